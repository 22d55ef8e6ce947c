#pragma once

// The attributes of one opened file, kept by value so they outlive the reader's Close.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "wm_reader.h"

namespace melvanto::wmf {

class THeaderInfo : public IWMHeaderInfo {
 public:
  std::map<std::u16string, std::u16string> Text;
  std::optional<std::uint64_t> Duration;  // in 100 ns
  std::optional<std::uint64_t> StatedDuration;
  // WM/Picture values in their stored layout; only these are reached by index.
  std::vector<std::vector<std::uint8_t>> Pictures;

  HRESULT GetAttributeByName(std::uint16_t* stream, const std::u16string& name, WMT_ATTR_DATATYPE* type,
                             std::uint8_t* value, std::uint16_t* length) override;
  HRESULT SetAttribute(std::uint16_t, const std::u16string&, WMT_ATTR_DATATYPE, const std::uint8_t*,
                       std::uint16_t) override {
    return NS_E_INVALID_REQUEST;  // a reader's header is read-only
  }
  HRESULT GetAttributeIndices(std::uint16_t stream, const std::u16string& name,
                              std::vector<std::uint16_t>* indices) override;
  HRESULT GetAttributeByIndexEx(std::uint16_t stream, std::uint16_t index, WMT_ATTR_DATATYPE* type,
                                std::uint8_t* value, std::uint32_t* length) override;
};

}  // namespace melvanto::wmf
