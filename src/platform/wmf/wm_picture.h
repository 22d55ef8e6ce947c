#pragma once

// The WM/Picture attribute as files store it: the picture type byte, the data length (32-bit
// little-endian), the MIME type and the description (UTF-16LE, each with its null), the data.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace melvanto::wmf {

inline const std::u16string g_wszWMPicture = u"WM/Picture";

// Larger pictures are left out: a cover never needs more, and a header must stay loadable.
constexpr std::size_t kMaxPictureBytes = 16u << 20;

struct WM_PICTURE {
  std::u16string MimeType;
  std::uint8_t PictureType = 3;  // 3: the front cover
  std::u16string Description;
  std::vector<std::uint8_t> Data;
};

// Empty when the picture has no data or is larger than kMaxPictureBytes.
std::vector<std::uint8_t> EncodeWmPicture(const WM_PICTURE& picture);
// Nothing when the bytes are not one whole picture of at most kMaxPictureBytes.
std::optional<WM_PICTURE> DecodeWmPicture(const std::uint8_t* bytes, std::size_t size);

}  // namespace melvanto::wmf
