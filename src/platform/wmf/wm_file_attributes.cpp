#include "wm_file_attributes.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "wm_picture.h"

namespace melvanto::wmf {

HRESULT THeaderInfo::GetAttributeByName(std::uint16_t* /*stream*/, const std::u16string& name,
                                        WMT_ATTR_DATATYPE* type, std::uint8_t* value, std::uint16_t* length) {
  if (length == nullptr) return E_INVALIDARG;
  std::vector<std::uint8_t> bytes;
  WMT_ATTR_DATATYPE kind;
  if (name == g_wszWMDuration || name == g_wszStatedDuration) {
    const std::optional<std::uint64_t>& number = name == g_wszWMDuration ? Duration : StatedDuration;
    if (!number) return ASF_E_NOTFOUND;
    kind = WMT_ATTR_DATATYPE::WMT_TYPE_QWORD;
    bytes.resize(8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(*number >> (8 * i));
  } else {
    const auto it = Text.find(name);
    if (it == Text.end()) return ASF_E_NOTFOUND;
    kind = WMT_ATTR_DATATYPE::WMT_TYPE_STRING;
    // The length is 16 bits: longer text is cut to fit with its null.
    const std::size_t chars = std::min<std::size_t>(it->second.size(), 0xFFFE / 2 - 1);
    bytes.resize((chars + 1) * 2, 0);
    for (std::size_t i = 0; i < chars; ++i) {
      bytes[2 * i] = static_cast<std::uint8_t>(it->second[i]);
      bytes[2 * i + 1] = static_cast<std::uint8_t>(it->second[i] >> 8);
    }
  }
  if (type != nullptr) *type = kind;
  const auto needed = static_cast<std::uint16_t>(bytes.size());
  if (value == nullptr) {
    *length = needed;
    return S_OK;
  }
  if (*length < needed) {
    *length = needed;
    return NS_E_SDK_BUFFERTOOSMALL;
  }
  std::memcpy(value, bytes.data(), bytes.size());
  *length = needed;
  return S_OK;
}

HRESULT THeaderInfo::GetAttributeIndices(std::uint16_t /*stream*/, const std::u16string& name,
                                         std::vector<std::uint16_t>* indices) {
  if (indices == nullptr) return E_INVALIDARG;
  indices->clear();
  if (name != g_wszWMPicture) return S_OK;
  for (std::size_t i = 0; i < Pictures.size() && i <= 0xFFFF; ++i) indices->push_back(static_cast<std::uint16_t>(i));
  return S_OK;
}

HRESULT THeaderInfo::GetAttributeByIndexEx(std::uint16_t /*stream*/, std::uint16_t index, WMT_ATTR_DATATYPE* type,
                                           std::uint8_t* value, std::uint32_t* length) {
  if (length == nullptr) return E_INVALIDARG;
  if (index >= Pictures.size()) return ASF_E_NOTFOUND;
  const std::vector<std::uint8_t>& bytes = Pictures[index];
  if (type != nullptr) *type = WMT_ATTR_DATATYPE::WMT_TYPE_BINARY;
  const auto needed = static_cast<std::uint32_t>(bytes.size());
  if (value != nullptr) {
    if (*length < needed) {
      *length = needed;
      return NS_E_SDK_BUFFERTOOSMALL;
    }
    std::memcpy(value, bytes.data(), bytes.size());
  }
  *length = needed;
  return S_OK;
}

}  // namespace melvanto::wmf
