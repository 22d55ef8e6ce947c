#pragma once

#include <memory>

#include "input.h"
#include "output.h"
#include "tags.h"

namespace melvanto {

// A file input that owns one tag container of each kind, filled by the descendant that
// opens the file.
class TAuTaggedFileIn : public TAuFileIn {
 public:
  TAuTaggedFileIn();
  ~TAuTaggedFileIn() override;

  TId3v1Tags* Id3v1Tags() const { return Id3v1Tags_.get(); }
  // Descendants that fill it when the file opens open the file first.
  virtual TId3v2Tags* Id3v2Tags() { return Id3v2Tags_.get(); }
  TAPEv2Tags* APEv2Tags() const { return APEv2Tags_.get(); }
  TCommonTags* CommonTags() const { return CommonTags_.get(); }

 protected:
  std::unique_ptr<TId3v1Tags> Id3v1Tags_;
  std::unique_ptr<TId3v2Tags> Id3v2Tags_;
  std::unique_ptr<TAPEv2Tags> APEv2Tags_;
  std::unique_ptr<TCommonTags> CommonTags_;
};

// A file output that owns the tag containers its descendant writes into the file.
// Setting a container copies its values: the caller keeps, changes or frees its own.
class TAuTaggedFileOut : public TAuFileOut {
 public:
  TAuTaggedFileOut();
  ~TAuTaggedFileOut() override;

  TId3v1Tags* Id3v1Tags() const { return Id3v1Tags_.get(); }
  void SetId3v1Tags(const TId3v1Tags* tags) { Id3v1Tags_->Assign(tags); }
  TId3v2Tags* Id3v2Tags() const { return Id3v2Tags_.get(); }
  void SetId3v2Tags(const TId3v2Tags* tags) { Id3v2Tags_->Assign(tags); }
  TAPEv2Tags* APEv2Tags() const { return APEv2Tags_.get(); }

 protected:
  std::unique_ptr<TId3v1Tags> Id3v1Tags_;
  std::unique_ptr<TId3v2Tags> Id3v2Tags_;
  std::unique_ptr<TAPEv2Tags> APEv2Tags_;
};

}  // namespace melvanto
