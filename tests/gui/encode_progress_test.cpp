// The progress window over real conversions: files made by ffmpeg, outputs checked with
// ffprobe, the dialogs answered by a script. And the hand-over of engine events to Qt's
// thread that those conversions rely on.

#include "encode_progress.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio_checks.h"
#include "batch_summary.h"
#include "fake_dialogs.h"
#include "made_files.h"
#include "main_thread.h"
#include "main_thread_bridge.h"
#include "product.h"
#include "settings.h"
#include "temp_dir.h"
#include "tools.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;
using gui::TfrmEncodeProgress;
using namespace std::chrono_literals;

// Only a guard against a hang: every wait ends on its condition long before.
constexpr std::chrono::seconds kGuard = 240s;

// Runs the event loop until done() holds (true) or the guard runs out (false). Everything
// that changes done() arrives as an event, so each pass sleeps until there is one.
bool WaitUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(kGuard);
  QTimer wake;  // wakes the sleeping loop when the guard runs out
  wake.setSingleShot(true);
  wake.start(kGuard);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// exec(), ended by the guard (result -1) should the window never close itself.
int ExecGuarded(TfrmEncodeProgress& window) {
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, &window, [&window] { window.done(-1); });
  guard.start(kGuard);
  return window.exec();
}

// Sources made once for the whole program: three short WAVs (c.wav mono, with tags) and a
// long one.
const MadeFiles& Sources() {
  const std::string ff = "ffmpeg -nostdin -v error -y -f lavfi -i ";
  static const MadeFiles files(HaveTool("ffmpeg"),
                               ff + "'sine=f=440:d=1:r=44100' -ac 2 -c:a pcm_s16le a.wav && " + ff +
                                   "'sine=f=660:d=1:r=44100' -ac 2 -c:a pcm_s16le b.wav && " + ff +
                                   "'sine=f=550:d=2:r=48000' -ac 1 -c:a pcm_s16le -metadata title=Cee "
                                   "-metadata artist='Dee Ensemble' c.wav && " +
                                   ff + "'sine=f=330:d=30:r=44100' -ac 2 -c:a pcm_s16le long.wav");
  return files;
}

#define REQUIRE_SOURCES()              \
  MELVANTO_REQUIRE_COMMAND("ffmpeg");  \
  MELVANTO_REQUIRE_COMMAND("ffprobe"); \
  ASSERT_TRUE(Sources().Ready()) << "the source files could not be made"

std::string FormatOf(const std::string& path) {
  return CaptureText("ffprobe -v error -show_entries format=format_name -of default=nw=1:nk=1 '" + path +
                     "'");
}

double DurationOf(const std::string& path) {
  return Field(Probe(path, "format=duration"), "duration");
}

class EncodeProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(out);
    OptionsSetting.CommonOptions.OutputFolder = out.string();
    // One file at a time: the order of questions and results is the batch's.
    OptionsSetting.CommonOptions.ParallelFiles = 1;
    // The summary that ends every batch is read, not shown.
    dialogs.OnExec = [this](QDialog& dialog) {
      auto* summary = qobject_cast<gui::TfrmBatchSummary*>(&dialog);
      if (summary == nullptr) return dialog.exec();
      summaries.push_back({summary->windowTitle(), summary->Icon(), gui::ProblemLists(summary->Outcome()),
                           summary->mLists->toPlainText(), summary->lCounts->text(),
                           summary->lHeadline->text(), summary->Outcome()});
      if (openFolder) summary->bOpenFolder->click();
      return int(QDialog::Accepted);
    };
  }
  std::string Out(const std::string& name) const { return (out / name).string(); }
  static std::string Src(const std::string& name) { return Sources() / name; }

  // A window for files in a mode, made the way the main window makes it: its runner copies
  // the settings and tags as they are then.
  std::unique_ptr<TfrmEncodeProgress> Window(TConversionMode mode, const std::vector<std::string>& files) {
    auto window = std::make_unique<TfrmEncodeProgress>(nullptr, files, OptionsSetting, TagInfo);
    window->SetMode(mode);
    return window;
  }

  struct Summary {
    QString Caption;
    QMessageBox::Icon Icon;
    QString Problems, Lists, Counts, Headline;
    gui::TBatchOutcome Outcome;
  };

  FakeDialogs dialogs;
  std::vector<Summary> summaries;
  bool openFolder = false;  // the summary's folder button is pressed
  TempDir dir;
  fs::path out = dir / "out";
  TOptionsSetting OptionsSetting;
  TTagInfo TagInfo;
};

TEST_F(EncodeProgressTest, NewWindowShowsTheBatchAndWaitsForTheLoop) {
  TfrmEncodeProgress window(nullptr, {"/nowhere/a.wav", "/nowhere/b.wav", "/nowhere/c.wav"}, OptionsSetting,
                            TagInfo);
  EXPECT_EQ(window.windowTitle(), "Melvanto");
  EXPECT_EQ(window.lProgressHint->text(), "Encoding...");
  EXPECT_EQ(window.lSelectedTracks->text(), "3");
  EXPECT_EQ(window.ProgressBar1->text(), "0%");
  EXPECT_EQ(window.ProgressBar1->minimum(), 0);
  EXPECT_EQ(window.ProgressBar1->maximum(), 100);
  EXPECT_EQ(window.bStop->text(), "Stop");
  EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "a fixed dialog";
  EXPECT_TRUE(window.isModal());
  // The first step waits for the loop, so the caller can still set the mode.
  EXPECT_TRUE(window.lInputFileName->text().isEmpty());
  EXPECT_EQ(window.Runner().FileIndex(), 0);
  window.SetMode(TConversionMode::cmWavToWma);
  EXPECT_EQ(window.Mode(), TConversionMode::cmWavToWma);

  QStringList captions;
  for (const QLabel* label : window.findChildren<QLabel*>()) captions << label->text();
  for (const char* caption :
       {"Current Input File:", "Current Output File:", "Output Folder:", "Selected files:", "Completed:"})
    EXPECT_TRUE(captions.contains(caption)) << caption;
  for (const char* name : {"lInputFileName", "lOutputFileName", "lOutputFolder", "lSelectedTracks",
                           "lCompleted", "lProgressHint", "ProgressBar1", "lOverall", "OverallBar", "bStop"})
    EXPECT_NE(window.findChild<QWidget*>(name), nullptr) << name;
}

TEST_F(EncodeProgressTest, LongNamesAreShortenedToFitWithTheWholeTextInTheTooltip) {
  TfrmEncodeProgress window(nullptr, {"/nowhere/a.wav"}, OptionsSetting, TagInfo);
  const std::string folder = "/" + std::string(300, 'f') + "/deep/output/";
  window.SetOutputFolder(folder);
  window.SetInputFileName("short.wav");
  const QLabel* label = window.lOutputFolder;
  EXPECT_EQ(label->toolTip(), QString::fromStdString(folder));
  EXPECT_NE(label->text(), label->toolTip());
  EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width());
  EXPECT_TRUE(label->text().endsWith("output/")) << "shortened in the middle: the end of a path tells most";
  EXPECT_EQ(window.lInputFileName->text(), "short.wav");
  EXPECT_EQ(window.width(), window.minimumWidth()) << "a long text does not widen the dialog";
}

TEST_F(EncodeProgressTest, TwoFilesToMp3AndToWavRunToTheEndAndCloseWithoutASummary) {
  REQUIRE_SOURCES();
  const struct {
    TConversionMode mode;
    const char* extension;
    const char* format;
  } directions[] = {{TConversionMode::cmWavToMp3, ".mp3", "mp3"},
                    {TConversionMode::cmWavToWav, ".wav", "wav"}};
  for (const auto& d : directions) {
    SCOPED_TRACE(d.extension);
    auto window = Window(d.mode, {Src("a.wav"), Src("b.wav")});
    EXPECT_EQ(ExecGuarded(*window), QDialog::Accepted);
    const auto& results = window->Runner().Results();
    ASSERT_EQ(results.size(), 2u);
    for (const char* name : {"a", "b"}) {
      const std::string output = Out(std::string(name) + d.extension);
      EXPECT_EQ(FormatOf(output), std::string(d.format) + "\n") << output;
      EXPECT_NEAR(DurationOf(output), 1.0, 0.1) << output;
    }
    EXPECT_EQ(results[0].Status, TFileResult::frConverted);
    EXPECT_EQ(results[1].Status, TFileResult::frConverted);
    // The labels show the last file.
    EXPECT_EQ(window->lInputFileName->text(), "b.wav");
    EXPECT_EQ(window->lOutputFileName->text(), QString("b") + d.extension);
    EXPECT_EQ(window->lOutputFolder->toolTip(), QString::fromStdString(out.string()));
    EXPECT_EQ(window->lCompleted->text(), "1");
    EXPECT_TRUE(window->ProgressBar1->text().startsWith("Encoding... "))
        << window->ProgressBar1->text().toStdString();
    EXPECT_TRUE(window->FailureSummary().isEmpty());
  }
  ASSERT_EQ(summaries.size(), 2u) << "every batch ends with its summary";
  for (const Summary& summary : summaries) {
    EXPECT_EQ(summary.Icon, QMessageBox::Information);
    EXPECT_EQ(summary.Headline, "All 2 files were converted.");
    EXPECT_TRUE(summary.Problems.isEmpty());
  }
  EXPECT_TRUE(dialogs.Messages.empty());
  EXPECT_TRUE(dialogs.Questions.empty());
}

TEST_F(EncodeProgressTest, OverwriteQuestionNoKeepsTheFileYesReplacesIt) {
  REQUIRE_SOURCES();
  const std::string kept = "not audio, the user's own bytes";
  std::ofstream(Out("a.mp3"), std::ios::binary) << kept;

  dialogs.Choices = {QMessageBox::No};
  auto first = Window(TConversionMode::cmWavToMp3, {Src("a.wav"), Src("b.wav")});
  EXPECT_EQ(ExecGuarded(*first), QDialog::Accepted);
  ASSERT_EQ(dialogs.Questions.size(), 1u);
  EXPECT_EQ(dialogs.Questions[0].Caption, "Melvanto");
  EXPECT_EQ(dialogs.Questions[0].Text, QString::fromStdString(Out("a.mp3") + " already exists. Replace it?"));
  EXPECT_EQ(dialogs.Questions[0].Icon, QMessageBox::Question);
  EXPECT_EQ(dialogs.Questions[0].Buttons,
            QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll | QMessageBox::NoToAll);
  EXPECT_EQ(dialogs.Questions[0].Default, QMessageBox::No) << "a stray Enter keeps the user's file";
  const auto contents = dir.Contents("out/a.mp3");
  EXPECT_EQ(std::string(contents.begin(), contents.end()), kept)
      << "a refused file is not opened for writing";
  ASSERT_EQ(first->Runner().Results().size(), 2u);
  EXPECT_EQ(first->Runner().Results()[0].Status, TFileResult::frSkipped);
  EXPECT_EQ(FormatOf(Out("b.mp3")), "mp3\n") << "the batch goes on after a skipped file";
  // A skipped file is no failure, but the user is told which was kept.
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0].Icon, QMessageBox::Information);
  EXPECT_EQ(summaries[0].Problems, "1 of 2 files skipped:\na.wav: the output file exists and was kept");
  summaries.clear();

  // Both outputs exist now: one question each.
  dialogs.Choices = {QMessageBox::Yes, QMessageBox::No};
  auto second = Window(TConversionMode::cmWavToMp3, {Src("a.wav"), Src("b.wav")});
  EXPECT_EQ(ExecGuarded(*second), QDialog::Accepted);
  ASSERT_EQ(dialogs.Questions.size(), 3u);
  EXPECT_EQ(dialogs.Questions[2].Text, QString::fromStdString(Out("b.mp3") + " already exists. Replace it?"));
  EXPECT_EQ(FormatOf(Out("a.mp3")), "mp3\n");
  EXPECT_NEAR(DurationOf(Out("a.mp3")), 1.0, 0.1);
  ASSERT_EQ(second->Runner().Results().size(), 2u);
  EXPECT_EQ(second->Runner().Results()[0].Status, TFileResult::frConverted);
  EXPECT_EQ(second->Runner().Results()[1].Status, TFileResult::frSkipped);
}

// Five files whose outputs exist: a "to all" answer holds for the rest of the batch, and
// every file kept is listed in the summary.
TEST_F(EncodeProgressTest, ToAllAnswersHoldForTheRestOfTheBatch) {
  REQUIRE_SOURCES();
  const std::string old = "the user's older file";
  std::vector<std::string> inputs;
  for (int i = 1; i <= 5; ++i) {
    const std::string name = "f" + std::to_string(i);
    fs::copy_file(Src(i % 2 == 0 ? "b.wav" : "a.wav"), dir / (name + ".wav"));
    inputs.push_back((dir / (name + ".wav")).string());
  }
  const auto writeOld = [&] {
    for (int i = 1; i <= 5; ++i)
      std::ofstream(Out("f" + std::to_string(i) + ".mp3"), std::ios::binary) << old;
  };
  const auto contentsOf = [&](const std::string& name) {
    const auto bytes = dir.Contents("out/" + name);
    return std::string(bytes.begin(), bytes.end());
  };

  writeOld();
  dialogs.Choices = {QMessageBox::Yes, QMessageBox::NoToAll};
  auto mixed = Window(TConversionMode::cmWavToMp3, inputs);
  EXPECT_EQ(ExecGuarded(*mixed), QDialog::Accepted);
  ASSERT_EQ(dialogs.Questions.size(), 2u) << "no question after No to all";
  for (const auto& q : dialogs.Questions) EXPECT_EQ(q.Default, QMessageBox::No);
  EXPECT_EQ(dialogs.Questions[1].Text,
            QString::fromStdString(Out("f2.mp3") + " already exists. Replace it?"));
  EXPECT_EQ(FormatOf(Out("f1.mp3")), "mp3\n");
  EXPECT_NEAR(DurationOf(Out("f1.mp3")), 1.0, 0.1);
  for (int i = 2; i <= 5; ++i) EXPECT_EQ(contentsOf("f" + std::to_string(i) + ".mp3"), old) << i;
  const auto& results = mixed->Runner().Results();
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(results[0].Status, TFileResult::frConverted);
  for (std::size_t i = 1; i < 5; ++i) EXPECT_EQ(results[i].Status, TFileResult::frSkipped) << i;
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0].Problems,
            "4 of 5 files skipped:\n"
            "f2.wav: the output file exists and was kept\nf3.wav: the output file exists and was kept\n"
            "f4.wav: the output file exists and was kept\nf5.wav: the output file exists and was kept");

  // The answer belonged to that batch: the next one asks again, and Yes to all replaces all.
  writeOld();
  dialogs.Questions.clear();
  summaries.clear();
  dialogs.Choices = {QMessageBox::YesToAll};
  auto all = Window(TConversionMode::cmWavToMp3, inputs);
  EXPECT_EQ(ExecGuarded(*all), QDialog::Accepted);
  ASSERT_EQ(dialogs.Questions.size(), 1u);
  EXPECT_EQ(dialogs.Questions[0].Text,
            QString::fromStdString(Out("f1.mp3") + " already exists. Replace it?"));
  ASSERT_EQ(all->Runner().Results().size(), 5u);
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(all->Runner().Results()[i - 1].Status, TFileResult::frConverted) << i;
    EXPECT_EQ(FormatOf(Out("f" + std::to_string(i) + ".mp3")), "mp3\n") << i;
  }
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_TRUE(summaries[0].Problems.isEmpty()) << "nothing to report when every file was replaced";
}

TEST_F(EncodeProgressTest, FailedFilesEndWithASummaryAndTheGoodOnesAreConverted) {
  REQUIRE_SOURCES();
  std::ofstream(dir / "corrupt.wav", std::ios::binary) << std::string(4000, 'x');
  auto window = Window(TConversionMode::cmWavToMp3, {Src("a.wav"), (dir / "corrupt.wav").string(),
                                                     (dir / "missing.wav").string(), Src("b.wav")});
  EXPECT_EQ(ExecGuarded(*window), QDialog::Accepted);
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0].Caption, "Melvanto");
  EXPECT_EQ(summaries[0].Icon, QMessageBox::Warning);
  EXPECT_EQ(summaries[0].Problems,
            "2 of 4 files could not be converted:\n"
            "corrupt.wav: not a valid WAV file\n"
            "missing.wav: file not found");
  EXPECT_EQ(FormatOf(Out("a.mp3")), "mp3\n");
  EXPECT_EQ(FormatOf(Out("b.mp3")), "mp3\n");
  EXPECT_FALSE(fs::exists(out / "corrupt.mp3"));
}

TEST_F(EncodeProgressTest, FilesConvertedWithAWarningAreListedAfterTheFailedOnes) {
  REQUIRE_SOURCES();
  std::ofstream(dir / "corrupt.wav", std::ios::binary) << std::string(4000, 'x');
  const fs::path cut = dir / "cut.wav";
  fs::copy_file(Src("long.wav"), cut);
  fs::resize_file(cut, fs::file_size(cut) / 2);  // its header still says 30 s
  auto window =
      Window(TConversionMode::cmWavToWav, {Src("a.wav"), cut.string(), (dir / "corrupt.wav").string()});
  EXPECT_EQ(ExecGuarded(*window), QDialog::Accepted);
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0].Icon, QMessageBox::Warning);
  EXPECT_EQ(summaries[0].Problems,
            "1 of 3 files could not be converted:\n"
            "corrupt.wav: not a valid WAV file\n\n"
            "1 of 3 files converted with a warning:\n"
            "cut.wav: 15.0 s of 30.0 s of audio could be read; the input is damaged");
  EXPECT_NEAR(DurationOf(Out("cut.wav")), 15.0, 0.1);
}

TEST_F(EncodeProgressTest, SummaryOfOneFileAndOfMoreThanFitOnAScreen) {
  // Missing files fail before any conversion: no sources needed.
  {
    auto window = Window(TConversionMode::cmWavToWav, {(dir / "gone.wav").string()});
    EXPECT_EQ(ExecGuarded(*window), QDialog::Accepted);
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(summaries[0].Problems, "1 of 1 file could not be converted:\ngone.wav: file not found");
  }
  std::vector<std::string> files;
  for (int i = 0; i < 25; ++i) files.push_back((dir / ("m" + std::to_string(i) + ".wav")).string());
  auto window = Window(TConversionMode::cmWavToWav, files);
  EXPECT_EQ(ExecGuarded(*window), QDialog::Accepted);
  ASSERT_EQ(summaries.size(), 2u);
  const QStringList lines = summaries[1].Problems.split('\n');
  ASSERT_EQ(lines.size(), 22);
  EXPECT_EQ(lines.front(), "25 of 25 files could not be converted:");
  EXPECT_EQ(lines[1], "m0.wav: file not found");
  EXPECT_EQ(lines[20], "m19.wav: file not found");
  EXPECT_EQ(lines.back(), "... and 5 more");
}

// The summary of a batch run two files at a time: a file that fails, one converted, one kept
// at the user's word. Outputs beside their inputs: the button opens the folder of the first
// file written, not that of the failed file before it.
TEST_F(EncodeProgressTest, SummaryCountsAndListsEveryFileAndOpensTheOutputFolder) {
  REQUIRE_SOURCES();
  for (const char* folder : {"x", "y", "z"}) fs::create_directories(dir / folder);
  fs::copy_file(Src("a.wav"), dir / "x" / "a.wav");
  fs::copy_file(Src("b.wav"), dir / "y" / "b.wav");
  const std::string kept = "the user's own b.mp3";
  std::ofstream(dir / "y" / "b.mp3", std::ios::binary) << kept;
  OptionsSetting.CommonOptions.SameAsInputFolder = true;
  OptionsSetting.CommonOptions.ParallelFiles = 2;
  dialogs.Choices = {QMessageBox::No};
  openFolder = true;
  auto window = Window(
      TConversionMode::cmWavToMp3,
      {(dir / "z" / "missing.wav").string(), (dir / "x" / "a.wav").string(), (dir / "y" / "b.wav").string()});
  EXPECT_EQ(window->Jobs(), 2u);
  EXPECT_EQ(ExecGuarded(*window), QDialog::Accepted);

  ASSERT_EQ(summaries.size(), 1u);
  const Summary& summary = summaries[0];
  EXPECT_EQ(summary.Caption, "Melvanto");
  EXPECT_EQ(summary.Icon, QMessageBox::Warning);
  EXPECT_EQ(summary.Headline, "1 of 3 files were converted.");
  EXPECT_EQ(summary.Counts, "Converted: 1 (with a warning: 0), skipped: 1, stopped: 0, failed: 1");
  EXPECT_EQ(summary.Lists,
            "1 of 3 files could not be converted:\nmissing.wav: file not found\n\n"
            "1 of 3 files skipped:\nb.wav: the output file exists and was kept\n\n"
            "1 of 3 files converted:\na.wav: written as a.mp3");
  EXPECT_EQ(summary.Outcome.Files, 3u);
  ASSERT_EQ(dialogs.Urls.size(), 1u);
  EXPECT_EQ(dialogs.Urls[0], QUrl::fromLocalFile(QString::fromStdString((dir / "x").string())));
  EXPECT_EQ(FormatOf((dir / "x" / "a.mp3").string()), "mp3\n");
  const auto contents = dir.Contents("y/b.mp3");
  EXPECT_EQ(std::string(contents.begin(), contents.end()), kept);
  EXPECT_FALSE(fs::exists(dir / "z" / "missing.mp3"));

  // Into the chosen folder, every file converted: the chosen folder, whatever the inputs'.
  summaries.clear();
  dialogs.Urls.clear();
  OptionsSetting.CommonOptions.SameAsInputFolder = false;
  auto all =
      Window(TConversionMode::cmWavToWav, {(dir / "x" / "a.wav").string(), (dir / "y" / "b.wav").string()});
  EXPECT_EQ(ExecGuarded(*all), QDialog::Accepted);
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0].Icon, QMessageBox::Information);
  EXPECT_EQ(summaries[0].Headline, "All 2 files were converted.");
  EXPECT_EQ(summaries[0].Counts, "Converted: 2 (with a warning: 0), skipped: 0, stopped: 0, failed: 0");
  ASSERT_EQ(dialogs.Urls.size(), 1u);
  EXPECT_EQ(dialogs.Urls[0], QUrl::fromLocalFile(QString::fromStdString(out.string())));
}

// Two at a time writes what one at a time writes: the same names, tags and bytes. Checked
// with both runners having converted files, and every output read by ffprobe.
TEST_F(EncodeProgressTest, TwoAtATimeWritesTheSameBytesAsOneAtATime) {
  REQUIRE_SOURCES();
  std::vector<std::string> inputs;
  for (const char* name : {"a", "b", "c", "d", "e"}) {
    const fs::path input = dir / (std::string(name) + ".wav");
    fs::copy_file(Src(*name == 'c' || *name == 'e' ? "c.wav" : *name == 'b' ? "b.wav" : "a.wav"), input);
    inputs.push_back(input.string());
  }
  const struct {
    TConversionMode mode;
    const char* extension;
  } directions[] = {{TConversionMode::cmWavToMp3, ".mp3"}, {TConversionMode::cmWavToWma, ".wma"}};
  for (const auto& d : directions) {
    SCOPED_TRACE(d.extension);
    std::map<std::string, std::vector<std::uint8_t>> written[2];
    for (const int parallel : {1, 2}) {
      const fs::path folder = dir / (std::string("out") + std::to_string(parallel) + d.extension);
      fs::create_directories(folder);
      OptionsSetting.CommonOptions.OutputFolder = folder.string();
      OptionsSetting.CommonOptions.ParallelFiles = parallel;
      auto window = Window(d.mode, inputs);
      EXPECT_EQ(ExecGuarded(*window), QDialog::Accepted);
      ASSERT_EQ(window->Jobs(), static_cast<std::size_t>(parallel));
      ASSERT_EQ(window->Results().size(), inputs.size());
      for (const TFileResult& r : window->Results()) EXPECT_EQ(r.Status, TFileResult::frConverted) << r.Input;
      if (parallel == 2) {
        EXPECT_FALSE(window->Runner(0).Results().empty());
        EXPECT_FALSE(window->Runner(1).Results().empty()) << "the second runner converted nothing";
      }
      for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(entry.path().extension(), d.extension) << name << ": no temporary file is left";
        EXPECT_FALSE(Probe(entry.path().string(), "format=duration").empty()) << name;
        written[parallel - 1][name] = dir.Contents(folder.filename().string() + "/" + name);
      }
    }
    ASSERT_EQ(written[0].size(), inputs.size());
    // Each file carries its own source's tags.
    const std::string tags =
        Probe((dir / (std::string("out1") + d.extension) / (std::string("c") + d.extension)).string(),
              "format_tags=title,artist");
    EXPECT_NE(tags.find("=Cee"), std::string::npos) << tags;
    EXPECT_NE(tags.find("=Dee Ensemble"), std::string::npos) << tags;
    for (const auto& [name, bytes] : written[0]) {
      ASSERT_TRUE(written[1].count(name)) << name;
      EXPECT_TRUE(written[1][name] == bytes) << name << " differs";
    }
  }
}

// While the batch runs, the window's title leads with the batch's share done, and the overall
// line counts the files done.
TEST_F(EncodeProgressTest, TitleShowsTheBatchPercentageWhileRunning) {
  REQUIRE_SOURCES();
  OptionsSetting.CPU = 0;  // slow enough to be seen running
  OptionsSetting.CommonOptions.ParallelFiles = 2;
  auto window = Window(TConversionMode::cmWavToMp3, {Src("long.wav"), Src("a.wav"), Src("long.wav")});
  QSignalSpy finished(window.get(), &QDialog::finished);
  window->show();
  // The short file done while the long one still runs: one third, plus the long one's share.
  ASSERT_TRUE(WaitUntil([&] { return window->Results().size() == 1u || finished.count() > 0; }));
  ASSERT_EQ(finished.count(), 0) << "the batch ended before it could be seen running";
  const QRegularExpression title("^(\\d+)% - Melvanto$");
  const QRegularExpressionMatch match = title.match(window->windowTitle());
  ASSERT_TRUE(match.hasMatch()) << window->windowTitle().toStdString();
  EXPECT_GE(match.captured(1).toInt(), 33);
  EXPECT_LT(match.captured(1).toInt(), 100);
  EXPECT_EQ(match.captured(1).toInt(), window->OverallPercent());
  EXPECT_EQ(window->OverallBar->value(), window->OverallPercent());
  EXPECT_TRUE(window->lOverall->text().startsWith("1 of 3 files done"))
      << window->lOverall->text().toStdString();
  window->bStopClick();
  ASSERT_TRUE(WaitUntil([&] { return finished.count() > 0; }));
}

// The estimate of the time left: none while too little is done to tell, then the time taken
// scaled to what is left.
TEST(EncodeProgressEstimateTest, TimeLeftAndDurations) {
  EXPECT_FALSE(gui::TimeLeftMs(0, 60000));
  EXPECT_FALSE(gui::TimeLeftMs(0.01, 60000)) << "too little done";
  EXPECT_FALSE(gui::TimeLeftMs(0.5, 1999)) << "too early";
  EXPECT_EQ(gui::TimeLeftMs(0.5, 10000), 10000);
  EXPECT_EQ(gui::TimeLeftMs(0.25, 10000), 30000);
  EXPECT_EQ(gui::TimeLeftMs(1, 10000), 0);
  EXPECT_EQ(gui::DurationText(-5), "0:00");
  EXPECT_EQ(gui::DurationText(59999), "0:59");
  EXPECT_EQ(gui::DurationText(61000), "1:01");
  EXPECT_EQ(gui::DurationText(3723000), "1:02:03");
}

// Dialogs whose overwrite question runs the window's queued steps before it is answered, as a
// real modal question's loop would: a second question must not open inside the first.
class NestingDialogs : public FakeDialogs {
 public:
  QObject* Window = nullptr;
  int Depth = 0, Deepest = 0;
  QMessageBox::StandardButton AskChoice(QWidget* owner, const QString& caption, const QString& text,
                                        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override {
    Deepest = std::max(Deepest, ++Depth);
    QCoreApplication::sendPostedEvents(Window, gui::kBatchStepEvent);
    --Depth;
    return FakeDialogs::AskChoice(owner, caption, text, icon, buttons, defaultButton);
  }
};

TEST_F(EncodeProgressTest, OverwriteQuestionsOfParallelFilesAreAskedOneAtATime) {
  REQUIRE_SOURCES();
  for (const char* name : {"a.mp3", "b.mp3"}) std::ofstream(Out(name), std::ios::binary) << "old";
  OptionsSetting.CommonOptions.ParallelFiles = 2;
  NestingDialogs nesting;  // in place of the fixture's until it goes
  nesting.OnExec = dialogs.OnExec;
  nesting.Choices = {QMessageBox::Yes, QMessageBox::No};
  auto window = Window(TConversionMode::cmWavToMp3, {Src("a.wav"), Src("b.wav")});
  nesting.Window = window.get();
  EXPECT_EQ(ExecGuarded(*window), QDialog::Accepted);
  EXPECT_EQ(nesting.Deepest, 1);
  ASSERT_EQ(nesting.Questions.size(), 2u);
  EXPECT_EQ(nesting.Questions[0].Text, QString::fromStdString(Out("a.mp3") + " already exists. Replace it?"));
  EXPECT_EQ(nesting.Questions[1].Text, QString::fromStdString(Out("b.mp3") + " already exists. Replace it?"));
  EXPECT_EQ(FormatOf(Out("a.mp3")), "mp3\n");
  const auto contents = dir.Contents("out/b.mp3");
  EXPECT_EQ(std::string(contents.begin(), contents.end()), "old");
  gui::SetDialogsForTesting(&dialogs);
}

// How a running batch is ended: the Stop button, the close box, Escape.
struct StopCase {
  const char* name;
  std::function<void(TfrmEncodeProgress&)> stop;
};
// Test names show the case's name, not the object's bytes.
void PrintTo(const StopCase& c, std::ostream* os) {
  *os << c.name;
}

class EncodeProgressStopTest : public EncodeProgressTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(EncodeProgressStopTest, EndsTheRunningFileWritingNothingAndTouchesNoOther) {
  REQUIRE_SOURCES();
  // The slowest processor setting pauses between blocks: the run is still going when the bar
  // first moves.
  OptionsSetting.CPU = 0;
  auto window = Window(TConversionMode::cmWavToMp3, {Src("long.wav"), Src("a.wav")});
  QSignalSpy finished(window.get(), &QDialog::finished);
  window->show();
  ASSERT_TRUE(WaitUntil([&] { return window->ProgressBar1->value() > 0 || finished.count() > 0; }));
  ASSERT_EQ(finished.count(), 0) << "the long file ended before it could be stopped";
  GetParam().stop(*window);
  ASSERT_TRUE(WaitUntil([&] { return finished.count() > 0; }));
  EXPECT_EQ(window->result(), QDialog::Accepted);
  EXPECT_FALSE(window->isVisible());

  const auto& results = window->Runner().Results();
  ASSERT_EQ(results.size(), 1u) << "the next file was never started";
  EXPECT_EQ(results[0].Status, TFileResult::frStopped);
  ASSERT_EQ(summaries.size(), 1u) << "a stopped batch is summed up too";
  EXPECT_EQ(summaries[0].Icon, QMessageBox::Information) << "a stopped file is no failure";
  EXPECT_TRUE(summaries[0].Problems.isEmpty());
  EXPECT_TRUE(summaries[0].Lists.startsWith("1 of 2 files stopped:\nlong.wav: stopped; nothing was written"))
      << summaries[0].Lists.toStdString();
  EXPECT_TRUE(summaries[0].Counts.endsWith("not started: 1")) << summaries[0].Counts.toStdString();
  // No part of the stopped file under its name, nor its temporary file.
  EXPECT_TRUE(fs::is_empty(out));
}

INSTANTIATE_TEST_SUITE_P(
    EncodeProgress, EncodeProgressStopTest,
    ::testing::Values(StopCase{"StopButton",
                               [](TfrmEncodeProgress& w) { QTest::mouseClick(w.bStop, Qt::LeftButton); }},
                      StopCase{"CloseBox",
                               [](TfrmEncodeProgress& w) {
                                 // The window stays until the runner is released.
                                 EXPECT_FALSE(w.close());
                               }},
                      StopCase{"Escape", [](TfrmEncodeProgress& w) { QTest::keyClick(&w, Qt::Key_Escape); }}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST_F(EncodeProgressTest, DestroyingTheWindowMidFileStopsTheOutput) {
  REQUIRE_SOURCES();
  // MP3 at the slowest processor setting: the WAV writer would be done before the bar moves.
  OptionsSetting.CPU = 0;
  auto window = Window(TConversionMode::cmWavToMp3, {Src("long.wav"), Src("a.wav")});
  window->show();
  ASSERT_TRUE(WaitUntil([&] { return window->ProgressBar1->value() > 0 || window->isHidden(); }));
  ASSERT_TRUE(window->isVisible()) << "the long file ended before the window went";
  window.reset();
  // Nothing writes any more, and the stopped file never took its name.
  EXPECT_TRUE(fs::is_empty(out)) << "a part of long.mp3, or its temporary file, is left";
}

// The hand-over of engine events: a call from another thread runs on Qt's thread from its
// event loop, with nothing else waking the loop.
TEST(EncodeProgressBridgeTest, CallsFromOtherThreadsRunFromTheQtEventLoop) {
  ASSERT_TRUE(IsMainThread());
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    std::atomic<int> ran{0};
    std::atomic<bool> onUiThread{false};
    std::thread worker([&] {
      for (int i = 0; i < 3; ++i)
        Synchronize([&] {
          onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
          ++ran;
        });
    });
    const bool done = WaitUntil([&] { return ran.load() == 3; });
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_TRUE(onUiThread.load());
    // Taken down and put back, as a second window session would.
    gui::RemoveMainThreadBridge();
    gui::InstallMainThreadBridge();
  }
}

}  // namespace
}  // namespace melvanto::testing
