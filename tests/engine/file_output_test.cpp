// Outputs that write a named file: create, append, and the handed-in stream.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fakes.h"
#include "temp_dir.h"

namespace melvanto::testing {
namespace {

// Copies the input's bytes to the end of its target; accepts both file modes.
class TCopyOut : public TAuFileOut {
 public:
  ~TCopyOut() override { Stop(false); }
  void SetFileMode(TFileOutputMode mode) override { FileMode_ = mode; }

 protected:
  void Prepare() override {
    OpenTargetStream("File name is not assigned.")->Seek(0, TSeekOrigin::soEnd);
    Input()->Init();
  }
  bool DoOutput(bool Abort) override {
    if (Abort || !CanOutput()) return false;
    std::uint8_t buffer[512];
    const std::uint32_t n = Input()->CopyData(buffer, sizeof buffer);
    Stream_->WriteBuffer(buffer, n);
    return n != 0;
  }
  void Done() override {
    CloseOwnStream();
    Input()->Flush();
  }
};

class FileOutputTest : public ::testing::Test {
 protected:
  // Runs out on a fresh input of the given bytes; returns the error message, if any.
  std::string RunWith(TCopyOut& out, const std::vector<std::uint8_t>& bytes) {
    TMemoryIn in(bytes, {8, 1, 8000});
    return RunOnce(out, in);
  }
  std::vector<std::uint8_t> Contents(const std::string& name) { return dir_.Contents(name); }
  std::string Path(const std::string& name) { return (dir_ / name).string(); }

  TempDir dir_;
};

TEST_F(FileOutputTest, RewriteCreatesOrEmptiesTheTarget) {
  TCopyOut out;
  out.SetFileName(Path("a.raw"));
  EXPECT_EQ(RunWith(out, Ramp(3000)), "");
  EXPECT_EQ(Contents("a.raw"), Ramp(3000));
  EXPECT_EQ(RunWith(out, Ramp(10)), "");
  EXPECT_EQ(Contents("a.raw"), Ramp(10));
}

TEST_F(FileOutputTest, AppendAddsToAnExistingFileAndCreatesAMissingOne) {
  TCopyOut out;
  out.SetFileMode(TFileOutputMode::foAppend);
  out.SetFileName(Path("b.raw"));
  EXPECT_EQ(RunWith(out, Ramp(100)), "");
  EXPECT_EQ(Contents("b.raw"), Ramp(100));
  EXPECT_EQ(RunWith(out, Ramp(50)), "");
  std::vector<std::uint8_t> both = Ramp(100);
  const auto tail = Ramp(50);
  both.insert(both.end(), tail.begin(), tail.end());
  EXPECT_EQ(Contents("b.raw"), both);
}

TEST_F(FileOutputTest, BaseFileOutputKeepsRewrite) {
  struct TPlainFileOut : TAuFileOut {
    ~TPlainFileOut() override { Stop(false); }
    void Prepare() override {}
    bool DoOutput(bool) override { return false; }
    void Done() override {}
  } out;
  out.SetFileMode(TFileOutputMode::foAppend);
  EXPECT_EQ(out.FileMode(), TFileOutputMode::foRewrite);
}

TEST_F(FileOutputTest, MissingNameOrUnwritableTargetIsReportedNotThrown) {
  TCopyOut out;
  EXPECT_EQ(RunWith(out, Ramp(10)), "File name is not assigned.");
  out.SetFileName(Path("no/such/folder/c.raw"));
  EXPECT_EQ(RunWith(out, Ramp(10)), "No such file or directory");
}

TEST_F(FileOutputTest, HandedInStreamIsWrittenAndNotFreed) {
  TMemoryStream target;
  TCopyOut out;
  out.SetStream(&target);
  EXPECT_EQ(RunWith(out, Ramp(700)), "");
  EXPECT_EQ(target.Bytes(), Ramp(700));
  EXPECT_EQ(out.Stream(), &target);
}

}  // namespace
}  // namespace melvanto::testing
