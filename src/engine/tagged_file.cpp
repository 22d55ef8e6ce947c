#include "tagged_file.h"

namespace melvanto {

TAuTaggedFileIn::TAuTaggedFileIn()
    : Id3v1Tags_(std::make_unique<TId3v1Tags>()),
      Id3v2Tags_(std::make_unique<TId3v2Tags>()),
      APEv2Tags_(std::make_unique<TAPEv2Tags>()),
      CommonTags_(std::make_unique<TCommonTags>()) {}

TAuTaggedFileIn::~TAuTaggedFileIn() = default;

TAuTaggedFileOut::TAuTaggedFileOut()
    : Id3v1Tags_(std::make_unique<TId3v1Tags>()),
      Id3v2Tags_(std::make_unique<TId3v2Tags>()),
      APEv2Tags_(std::make_unique<TAPEv2Tags>()) {}

TAuTaggedFileOut::~TAuTaggedFileOut() = default;

}  // namespace melvanto
