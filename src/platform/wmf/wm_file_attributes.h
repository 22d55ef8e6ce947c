#pragma once

// The attributes of one opened file, kept by value so they outlive the reader's Close.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "wm_reader.h"

namespace melvanto::wmf {

class THeaderInfo : public IWMHeaderInfo {
 public:
  std::map<std::u16string, std::u16string> Text;
  std::optional<std::uint64_t> Duration;  // in 100 ns
  std::optional<std::uint64_t> StatedDuration;

  HRESULT GetAttributeByName(std::uint16_t* stream, const std::u16string& name, WMT_ATTR_DATATYPE* type,
                             std::uint8_t* value, std::uint16_t* length) override;
  HRESULT SetAttribute(std::uint16_t, const std::u16string&, WMT_ATTR_DATATYPE, const std::uint8_t*,
                       std::uint16_t) override {
    return NS_E_INVALID_REQUEST;  // a reader's header is read-only
  }
};

}  // namespace melvanto::wmf
