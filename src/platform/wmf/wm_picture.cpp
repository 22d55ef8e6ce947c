#include "wm_picture.h"

#include <cstring>

namespace melvanto::wmf {
namespace {

void PutText(std::vector<std::uint8_t>& out, const std::u16string& text) {
  for (char16_t c : text.substr(0, text.find(u'\0'))) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

// Text up to its null, which must lie within [at, end); at moves past it.
std::optional<std::u16string> TakeText(const std::uint8_t* bytes, std::size_t& at, std::size_t end) {
  std::u16string text;
  for (; at + 1 < end; at += 2) {
    const auto c = static_cast<char16_t>(bytes[at] | (bytes[at + 1] << 8));
    if (c == 0) {
      at += 2;
      return text;
    }
    text.push_back(c);
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::uint8_t> EncodeWmPicture(const WM_PICTURE& picture) {
  if (picture.Data.empty() || picture.Data.size() > kMaxPictureBytes) return {};
  std::vector<std::uint8_t> out;
  out.reserve(picture.Data.size() + 5 + 2 * (picture.MimeType.size() + picture.Description.size() + 2));
  out.push_back(picture.PictureType);
  const auto size = static_cast<std::uint32_t>(picture.Data.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  PutText(out, picture.MimeType);
  PutText(out, picture.Description);
  out.insert(out.end(), picture.Data.begin(), picture.Data.end());
  return out;
}

std::optional<WM_PICTURE> DecodeWmPicture(const std::uint8_t* bytes, std::size_t size) {
  if (bytes == nullptr || size < 5) return std::nullopt;
  WM_PICTURE picture;
  picture.PictureType = bytes[0];
  const std::uint32_t dataSize = bytes[1] | (bytes[2] << 8) | (bytes[3] << 16) | (std::uint32_t(bytes[4]) << 24);
  if (dataSize == 0 || dataSize > kMaxPictureBytes || dataSize > size - 5) return std::nullopt;
  const std::size_t textEnd = size - dataSize;
  std::size_t at = 5;
  auto mime = TakeText(bytes, at, textEnd);
  if (!mime) return std::nullopt;
  auto description = TakeText(bytes, at, textEnd);
  // The data is the rest: nothing may lie between the texts and it.
  if (!description || at != textEnd) return std::nullopt;
  picture.MimeType = std::move(*mime);
  picture.Description = std::move(*description);
  picture.Data.assign(bytes + at, bytes + size);
  return picture;
}

}  // namespace melvanto::wmf
