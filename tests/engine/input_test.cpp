// The pull protocol of inputs: sizes, the play range and its cut, looping, seeking.

#include <gtest/gtest.h>

#include <limits>

#include "fakes.h"

namespace melvanto::testing {
namespace {

constexpr PcmFormat kStereo16{16, 2, 44100};  // 4 bytes a frame

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& v, std::size_t from, std::size_t to) {
  return {v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to)};
}

TEST(InputTest, DeliversWholeFileThenZeroAndAccountsFormat) {
  const auto pcm = Ramp(4000 * 4);
  TMemoryIn in(pcm, kStereo16, 1000);
  EXPECT_EQ(in.TotalSamples(), 4000);
  EXPECT_EQ(in.TotalTime(), 0);  // 4000 frames at 44.1 kHz round to 0 s
  in.Init();
  EXPECT_EQ(in.Size(), 16000);
  EXPECT_EQ(in.SampleSize(), 4);
  std::vector<std::uint32_t> sizes;
  EXPECT_EQ(Drain(in, 4096, &sizes), pcm);
  EXPECT_EQ(sizes.front(), 1000u);  // never more than the descendant decoded
  EXPECT_EQ(in.Position(), in.Size());
  EXPECT_TRUE(in.EndOfData());
  in.Flush();
  EXPECT_FALSE(in.Busy());
}

TEST(InputTest, TotalTimeRoundsToNearestSecond) {
  TMemoryIn in(std::vector<std::uint8_t>(8000 * 2 * 3 / 2 + 2), {16, 1, 8000});  // 1.5 s + 1 frame
  EXPECT_EQ(in.TotalTime(), 2);
  TMemoryIn shorter(std::vector<std::uint8_t>(8000 * 2 * 14 / 10), {16, 1, 8000});  // 1.4 s
  EXPECT_EQ(shorter.TotalTime(), 1);
}

TEST(InputTest, LastBlockIsCutExactlyAtEndSample) {
  const auto pcm = Ramp(1000 * 4);
  TMemoryIn in(pcm, kStereo16, 256);  // decodes 64 frames a call
  in.SetStartSample(10);
  in.SetEndSample(109);  // inclusive: 100 frames
  in.Init();
  EXPECT_EQ(in.TotalSamples(), 100);
  EXPECT_EQ(in.Size(), 400);
  std::vector<std::uint32_t> sizes;
  EXPECT_EQ(Drain(in, 4096, &sizes), Slice(pcm, 40, 440));
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[1], 144u);  // the descendant decoded 256, only up to frame 109 goes out
  in.Flush();
  // The range holds for one run only.
  EXPECT_EQ(in.StartSample(), 0);
  EXPECT_EQ(in.EndSample(), -1);
}

TEST(InputTest, EndSampleAtOrBeyondFrameCountMeansToTheEnd) {
  const auto pcm = Ramp(100 * 4);
  for (std::int64_t end : {100, 5000}) {
    TMemoryIn in(pcm, kStereo16);
    in.SetStartSample(20);
    in.SetEndSample(end);
    in.Init();
    EXPECT_EQ(in.EndSample(), -1);
    EXPECT_EQ(in.TotalSamples(), 80);
    EXPECT_EQ(Drain(in, 4096), Slice(pcm, 80, 400));
    EXPECT_EQ(in.Position(), in.Size());
    in.Flush();
  }
}

TEST(InputTest, EmptyOrInvertedRangeDeliversNothing) {
  const auto pcm = Ramp(100 * 4);
  TMemoryIn in(pcm, kStereo16);
  in.SetStartSample(50);
  in.SetEndSample(40);
  in.Init();
  EXPECT_EQ(in.Size(), 0);
  EXPECT_FALSE(in.Seek(0));  // nothing to seek in, and nothing may leak out after it
  EXPECT_TRUE(Drain(in, 4096).empty());
  in.Flush();
}

TEST(InputTest, DataEndingBeforeSizeGivesShortBlockThenZero) {
  const auto pcm = Ramp(100 * 4);
  TMemoryIn in(pcm, kStereo16, 64);
  in.SetEndSample(99);
  in.Init();
  // The file claims 100 frames; make it shorter under the input's feet.
  in.Stream()->SetSize(50 * 4 + 2);
  std::vector<std::uint32_t> sizes;
  const auto got = Drain(in, 4096, &sizes);
  EXPECT_EQ(got, Slice(pcm, 0, 202));
  EXPECT_LT(in.Position(), in.Size());
  in.Flush();
}

TEST(InputTest, FullRangeLeavesSizeAsTheFileGivesIt) {
  TMemoryIn in(Ramp(1001), {8, 1, 8000});
  in.Init();
  EXPECT_EQ(in.Size(), 1001);
  EXPECT_EQ(in.TotalSamples(), 1001);
  in.Flush();
}

TEST(InputTest, InvalidFileInitialisesEmptyWithPlaceholderFormat) {
  TMemoryIn in(Ramp(4000), kStereo16);
  in.fileValid = false;
  EXPECT_NO_THROW(in.Init());
  EXPECT_EQ(in.Size(), 0);
  EXPECT_EQ(in.BitsPerSample(), 8u);
  EXPECT_EQ(in.SampleRate(), 8000u);
  EXPECT_EQ(in.Channels(), 1u);
  EXPECT_TRUE(Drain(in, 4096).empty());
  in.Flush();
}

TEST(InputTest, FormatThatWouldDivideByZeroIsNotValid) {
  for (PcmFormat f : {PcmFormat{16, 0, 44100}, PcmFormat{0, 2, 44100}, PcmFormat{16, 2, 0},
                      PcmFormat{4, 1, 8000}}) {
    TMemoryIn in(Ramp(4000), f);
    EXPECT_EQ(in.TotalTime(), 0);
    EXPECT_NO_THROW(in.Init());
    EXPECT_FALSE(in.Valid());
    EXPECT_EQ(in.Size(), 0);
    EXPECT_TRUE(Drain(in, 4096).empty());
    in.Flush();
  }
}

TEST(InputTest, InitWithoutNameOrStreamRaisesAndFlushCleansUp) {
  TMemoryIn in(Ramp(16), kStereo16);
  in.SetStream(nullptr);
  try {
    in.Init();
    FAIL() << "Init must raise";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "The file name is not assigned");
  }
  EXPECT_TRUE(in.EndOfData());
  in.Flush();
  EXPECT_FALSE(in.Busy());
}

TEST(InputTest, SecondInitOrANewSourceWhileBusyRaises) {
  TMemoryIn in(Ramp(16), kStereo16);
  in.Init();
  EXPECT_THROW(in.SetFileName("other.raw"), EAuException);
  EXPECT_THROW(in.SetStream(nullptr), EAuException);
  try {
    in.Init();
    FAIL() << "Init must raise";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "The component is Busy");
  }
  in.Flush();
  EXPECT_NO_THROW(in.Init());
  in.Flush();
}

TEST(InputTest, LoopOnSeekableInputRestartsAtStartSampleWithoutLosingTheTail) {
  const auto pcm = Ramp(100 * 4);
  TMemoryIn in(pcm, kStereo16, 120);  // 30 frames a call: the pass ends mid-block
  in.SetLoop(true);
  in.SetStartSample(10);
  in.SetEndSample(59);  // 50 frames a pass
  in.Init();
  const auto got = Drain(in, 4096, nullptr, 12);
  std::vector<std::uint8_t> want;
  while (want.size() < got.size()) {
    const auto pass = Slice(pcm, 40, 240);
    want.insert(want.end(), pass.begin(), pass.end());
  }
  want.resize(got.size());
  EXPECT_EQ(got, want);
  EXPECT_GE(got.size(), 3 * 200u);
  EXPECT_GT(in.seeks.load(), 2);
  EXPECT_EQ(in.opens.load(), 1);
  in.Flush();
}

TEST(InputTest, LoopOnNonSeekableInputRestartsByFlushAndInit) {
  const auto pcm = Ramp(40 * 4);
  TMemoryIn in(pcm, kStereo16, 64);
  in.canSeek = false;
  in.SetLoop(true);
  in.Init();
  std::vector<std::uint8_t> got;
  std::vector<std::int64_t> positions;
  for (int i = 0; i < 8; ++i) {
    const std::uint8_t* block = nullptr;
    std::uint32_t bytes = 64;
    in.GetData(block, bytes);
    ASSERT_GT(bytes, 0u);
    got.insert(got.end(), block, block + bytes);
    positions.push_back(in.Position());
  }
  // Each pass of 160 bytes goes out whole; Position starts again at the new pass.
  EXPECT_EQ(Slice(got, 0, 160), pcm);
  EXPECT_EQ(Slice(got, 160, 320), pcm);
  EXPECT_EQ(positions, (std::vector<std::int64_t>{64, 128, 160, 64, 128, 160, 64, 128}));
  EXPECT_EQ(in.seeks.load(), 0);
  EXPECT_GE(in.opens.load(), 3);
  in.Flush();
}

TEST(InputTest, SeekAfterTheLastBlockOfALoopedPassGoesWhereAsked) {
  const auto pcm = Ramp(100 * 4);
  TMemoryIn in(pcm, kStereo16, 400);
  in.SetLoop(true);
  in.Init();
  EXPECT_EQ(Drain(in, 400, nullptr, 1), pcm);  // the whole pass in one block
  ASSERT_TRUE(in.Seek(40));
  EXPECT_EQ(Drain(in, 400, nullptr, 1), Slice(pcm, 160, 400));
  in.Flush();
}

TEST(InputTest, NegativeOrHugeRangeBoundsAreHarmless) {
  const auto pcm = Ramp(100 * 4);
  TMemoryIn in(pcm, kStereo16);
  in.SetStartSample(-5);
  in.SetEndSample(-7);
  in.Init();
  EXPECT_EQ(in.Size(), 400);
  EXPECT_EQ(Drain(in, 4096), pcm);
  in.Flush();

  TMemoryIn unknown(pcm, kStereo16);
  unknown.sizeKnown = false;
  unknown.SetEndSample(std::numeric_limits<std::int64_t>::max());
  unknown.Init();
  EXPECT_EQ(Drain(unknown, 4096), pcm);  // to the end, no overflow into an empty range
  EXPECT_FALSE(unknown.Seek(std::numeric_limits<std::int64_t>::max()));
  unknown.Flush();
}

TEST(InputTest, LoopOverEmptyInputEnds) {
  TMemoryIn in({}, kStereo16);
  in.SetLoop(true);
  in.Init();
  EXPECT_TRUE(Drain(in, 4096, nullptr, 5).empty());
  in.Flush();
}

TEST(InputTest, SeekBeforeRunMovesStartOnly) {
  const auto pcm = Ramp(100 * 4);
  TMemoryIn in(pcm, kStereo16);
  EXPECT_TRUE(in.Seek(30));
  EXPECT_EQ(in.StartSample(), 30);
  EXPECT_EQ(in.seeks.load(), 0);
  in.Init();
  EXPECT_EQ(in.Position(), 0);
  EXPECT_EQ(in.Size(), 70 * 4);
  EXPECT_EQ(Drain(in, 4096), Slice(pcm, 120, 400));
  in.Flush();
}

TEST(InputTest, SeekOutOfReachChangesNothing) {
  TMemoryIn in(Ramp(100 * 4), kStereo16);
  EXPECT_EQ(in.TotalSamples(), 100);
  EXPECT_FALSE(in.Seek(101));
  EXPECT_FALSE(in.Seek(-1));
  EXPECT_EQ(in.StartSample(), 0);
  TMemoryIn fixed(Ramp(100 * 4), kStereo16);
  fixed.canSeek = false;
  fixed.Init();
  EXPECT_FALSE(fixed.Seek(5));
  fixed.Flush();
}

TEST(InputTest, SeekDuringRunIsRelativeToStartSample) {
  const auto pcm = Ramp(100 * 4);
  TMemoryIn in(pcm, kStereo16, 40);
  in.SetStartSample(20);
  in.Init();
  Drain(in, 40, nullptr, 1);
  ASSERT_TRUE(in.Seek(50));  // frame 70 of the file
  EXPECT_EQ(in.Position(), 50 * 4);
  const auto rest = Drain(in, 4096);
  EXPECT_EQ(rest, Slice(pcm, 280, 400));
  in.Flush();
}

TEST(InputTest, UnknownSizeIsNeverCutAndSeeksStayOpen) {
  const auto pcm = Ramp(300);
  TMemoryIn in(pcm, {8, 1, 8000}, 64);
  in.sizeKnown = false;
  EXPECT_EQ(in.TotalSamples(), -1);
  in.Init();
  EXPECT_EQ(in.Size(), -1);
  EXPECT_TRUE(in.Seek(0));  // an unknown size bounds nothing
  EXPECT_EQ(Drain(in, 100), pcm);
  in.Flush();
}

TEST(InputTest, CopyDataAndFillBuffer) {
  const auto pcm = Ramp(1000);
  TMemoryIn in(pcm, {8, 1, 8000}, 64);
  in.Init();
  std::vector<std::uint8_t> buf(1000);
  EXPECT_EQ(in.CopyData(buf.data(), 100), 64u);  // one block only
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 64, pcm.begin()));
  bool end = true;
  EXPECT_EQ(in.FillBuffer(buf.data(), 500, end), 500u);
  EXPECT_FALSE(end);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 500, pcm.begin() + 64));
  EXPECT_EQ(in.FillBuffer(buf.data(), 1000, end), 436u);
  EXPECT_TRUE(end);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 436, pcm.begin() + 564));
  EXPECT_EQ(in.CopyData(buf.data(), 100), 0u);
  in.Flush();
}

TEST(InputTest, FormatGettersOpenTheFileUntilFlushOrNewStream) {
  TMemoryIn in(Ramp(64), kStereo16);
  EXPECT_EQ(in.Channels(), 2u);
  EXPECT_EQ(in.SampleRate(), 44100u);
  EXPECT_EQ(in.BitsPerSample(), 16u);
  EXPECT_EQ(in.opens.load(), 1);  // opened once, kept open
  TMemoryStream other(Ramp(8));
  in.SetStream(&other);
  EXPECT_EQ(in.TotalSamples(), 2);
  EXPECT_EQ(in.opens.load(), 2);
  in.SetStream(nullptr);  // other goes first
}

}  // namespace
}  // namespace melvanto::testing
