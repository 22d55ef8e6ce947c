// Tagged file components own their tag containers; outputs copy what they are given.

#include <gtest/gtest.h>

#include "tagged_file.h"

namespace melvanto::testing {
namespace {

class TTaggedOut : public TAuTaggedFileOut {
 public:
  ~TTaggedOut() override { Stop(false); }

 protected:
  void Prepare() override {}
  bool DoOutput(bool) override { return false; }
  void Done() override {}
};

class TTaggedIn : public TAuTaggedFileIn {
 public:
  ~TTaggedIn() override { NotifyDestruction(); }

 protected:
  void OpenFile() override {}
  void CloseFile() override {}
  void GetDataInternal(const std::uint8_t*&, std::uint32_t& Bytes) override { Bytes = 0; }
  bool SeekInternal(std::int64_t&) override { return false; }
};

TEST(TaggedFileComponents, OutputsKeepTheirOwnCopies) {
  TId3v2Tags mine;
  mine.SetTitle(u"Title");
  TId3v1Tags v1;
  v1.SetArtist("Artist");

  TTaggedOut a, b;
  a.SetId3v2Tags(&mine);
  b.SetId3v2Tags(&mine);
  a.SetId3v1Tags(&v1);
  EXPECT_NE(a.Id3v2Tags(), &mine);
  EXPECT_NE(a.Id3v2Tags(), b.Id3v2Tags());

  // The caller changes or frees its own container: the outputs' copies stay.
  mine.Clear();
  v1.SetArtist("Other");
  EXPECT_EQ(a.Id3v2Tags()->Title(), u"Title");
  EXPECT_EQ(b.Id3v2Tags()->Title(), u"Title");
  EXPECT_EQ(a.Id3v1Tags()->Artist(), "Artist");
  a.Id3v2Tags()->SetTitle(u"changed");
  EXPECT_EQ(b.Id3v2Tags()->Title(), u"Title");
  EXPECT_TRUE(a.APEv2Tags()->Empty());
}

TEST(TaggedFileComponents, InputsOwnOneContainerOfEachKind) {
  TTaggedIn in;
  EXPECT_STREQ(in.Id3v1Tags()->ClassName(), "TId3v1Tags");
  EXPECT_STREQ(in.Id3v2Tags()->ClassName(), "TId3v2Tags");
  EXPECT_STREQ(in.APEv2Tags()->ClassName(), "TAPEv2Tags");
  EXPECT_STREQ(in.CommonTags()->ClassName(), "TCommonTags");
  EXPECT_TRUE(in.Id3v2Tags()->Empty());
}

}  // namespace
}  // namespace melvanto::testing
