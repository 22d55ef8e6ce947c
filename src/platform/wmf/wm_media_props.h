#pragma once

// The media type of a writer's input or a reader's output, held by value: one class serves
// both, the runtime's two interfaces asking the same of it.

#include <string>

#include "wm_reader.h"
#include "wm_writer.h"

namespace melvanto::wmf {

class TMediaProps final : public IWMInputMediaProps, public IWMOutputMediaProps {
 public:
  explicit TMediaProps(const WM_MEDIA_TYPE& type) : Type(type) {}
  HRESULT GetType(TMajorType* type) override {
    if (type == nullptr) return E_INVALIDARG;
    *type = Type.majortype;
    return S_OK;
  }
  HRESULT GetMediaType(WM_MEDIA_TYPE* type) override {
    if (type == nullptr) return E_INVALIDARG;
    *type = Type;
    return S_OK;
  }
  HRESULT SetMediaType(const WM_MEDIA_TYPE& type) override {
    Type = type;
    return S_OK;
  }
  // The name the components give their one audio input.
  HRESULT GetConnectionName(std::u16string* name) override {
    if (name == nullptr) return E_INVALIDARG;
    *name = u"NAAudioConnection";
    return S_OK;
  }

 private:
  WM_MEDIA_TYPE Type;
};

}  // namespace melvanto::wmf
