// The main window: its controls, the batch steps up to the progress window with the window
// system's dialogs answered by a script, dragging, the settings' load and save, and all six
// directions run end to end on small generated files.
#include "main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "about_box.h"
#include "audio_checks.h"
#include "batch_summary.h"
#include "drop_direction.h"
#include "encode_progress.h"
#include "fake_dialogs.h"
#include "id3.h"
#include "made_files.h"
#include "options_dialog.h"
#include "product.h"
#include "settings.h"
#include "tag_editor.h"
#include "temp_dir.h"
#include "text_file.h"
#include "tools.h"
#include "wma_choice.h"
#include "wma_out.h"

namespace melvanto {
// Readable values in failure messages (found by argument lookup).
static void PrintTo(const TTagInfo& t, std::ostream* os) {
  *os << "{" << QString::fromStdU16String(t.Title).toStdString() << "|"
      << QString::fromStdU16String(t.Artist).toStdString() << "|"
      << QString::fromStdU16String(t.Album).toStdString() << "|"
      << QString::fromStdU16String(t.Year).toStdString() << "|" << t.Genre << "|"
      << QString::fromStdU16String(t.Track).toStdString() << "|"
      << QString::fromStdU16String(t.Comment).toStdString() << "}";
}

}  // namespace melvanto

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;
using gui::TfrmMain;

const QString kEditor = QStringLiteral("melvanto::gui::TfrmTagEditor");
const QString kProgress = QStringLiteral("melvanto::gui::TfrmEncodeProgress");
const QString kSummary = QStringLiteral("melvanto::gui::TfrmBatchSummary");

QString Q(const fs::path& path) {
  return QString::fromStdString(path.string());
}

// Puts the settings file back as it was when the test ends.
class KeepSettingsFile {
 public:
  KeepSettingsFile() : path_(SettingsFilePath()), existed_(fs::is_regular_file(path_)) {
    if (existed_) text_ = ReadText(path_);
  }
  ~KeepSettingsFile() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    if (existed_) WriteText(path_, text_);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
  bool existed_;
  std::string text_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The default output folder is made beside the program: not in the build tree.
    SetProgramFolderForTesting(Program.String());
    Window = std::make_unique<TfrmMain>();
    Window->OptionsSetting = TOptionsSetting();
    Window->OptionsSetting.CommonOptions.OutputFolder = Output.String();
  }
  void TearDown() override {
    Window.reset();
    SetProgramFolderForTesting("");
  }

  // The progress window is looked at, not run.
  void RecordRunnerWithoutRunning() {
    Dialogs.OnExec = [this](QDialog& dialog) {
      if (auto* progress = qobject_cast<gui::TfrmEncodeProgress*>(&dialog)) {
        RunnerMode = progress->Mode();
        RunnerFiles = progress->Runner().Files();
      }
      return int(QDialog::Rejected);
    };
  }

  FakeDialogs Dialogs;
  TempDir Program, Output, Sources;
  std::unique_ptr<TfrmMain> Window;
  std::optional<TConversionMode> RunnerMode;
  std::vector<std::string> RunnerFiles;
};

TEST_F(MainWindowTest, DirectionButtonsCarryTheirTagsTextsAndOpenDialogs) {
  struct Row {
    QPushButton* TfrmMain::*Button;
    const char* Name;
    int Tag;
    const char* Caption;
    const char* Hint;
    const char* Title;
    const char* Filter;
  };
  const Row rows[] = {
      {&TfrmMain::bMP3toWMA, "bMP3toWMA", 10, "WMA to MP3...", "Convert WMA to MP3",
       "Wma to Mp3 Converter (One or multiple files)", "Sound files (*.wma);;All files (*)"},
      {&TfrmMain::bWMAtoMP3, "bWMAtoMP3", 9, "MP3 to WMA...", "Convert MP3 to WMA",
       "Mp3 to Wma Converter (One or multiple files)", "Sound files (*.mp3);;All files (*)"},
      {&TfrmMain::bWAVtoMP3, "bWAVtoMP3", 2, "WAV to MP3...", "Convert WAV to MP3",
       "Wav to Mp3 Converter (One or multiple files)", "Sound files (*.wav);;All files (*)"},
      {&TfrmMain::bMP3toWAV, "bMP3toWAV", 7, "MP3 to WAV...", "Convert MP3 to WAV",
       "Mp3 to Wav Converter (One or multiple files)", "Sound files (*.mp3);;All files (*)"},
      {&TfrmMain::bWAVtoWMA, "bWAVtoWMA", 4, "WAV to WMA...", "Convert WAV to WMA",
       "Wav to Wma Converter (One or multiple files)", "Sound files (*.wav);;All files (*)"},
      {&TfrmMain::bWMAtoWAV, "bWMAtoWAV", 8, "WMA to WAV...", "Convert WMA to WAV",
       "Wma to Wav Converter (One or multiple files)", "Sound files (*.wma);;All files (*)"},
  };
  Window->show();
  int previousTop = -1;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    QPushButton* button = (*Window).*row.Button;
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->objectName(), row.Name);
    EXPECT_EQ(button->property("tag").toInt(), row.Tag);
    EXPECT_EQ(button->property("role").toString(), "direction");
    EXPECT_EQ(button->text(), row.Caption);
    EXPECT_EQ(button->toolTip(), row.Hint);
    EXPECT_TRUE(button->isVisible());
    // Top to bottom in the table's order.
    EXPECT_GT(button->y(), previousTop);
    previousTop = button->y();

    // A cancelled dialog: the title and the filter are all there is to see.
    const std::size_t before = Dialogs.Opens.size();
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(Dialogs.Opens.size(), before + 1);
    EXPECT_EQ(Dialogs.Opens.back().Title, row.Title);
    EXPECT_EQ(Dialogs.Opens.back().Filter, row.Filter);
  }
  EXPECT_TRUE(Dialogs.Executed.empty());
  EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(MainWindowTest, ButtonCaptionedWmaToMp3RunsDirectionTenOnTheChosenFiles) {
  const std::string a = (Sources / "a.wma").string(), b = (Sources / "b.wma").string();
  Dialogs.FilesToOpen = {{QString::fromStdString(a), QString::fromStdString(b)}};
  RecordRunnerWithoutRunning();
  Window->show();
  QTest::mouseClick(Window->bMP3toWMA, Qt::LeftButton);
  ASSERT_EQ(Dialogs.Executed, std::vector<QString>{kProgress});
  EXPECT_EQ(RunnerMode, TConversionMode::cmWmaToMp3);
  EXPECT_EQ(RunnerFiles, (std::vector<std::string>{a, b}));
}

TEST_F(MainWindowTest, WindowAndItsOtherControls) {
  EXPECT_EQ(Window->size(), QSize(400, 303));
  EXPECT_EQ(Window->minimumSize(), Window->maximumSize());
  EXPECT_TRUE(Window->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(Window->windowTitle(), "Melvanto");
  EXPECT_EQ(Window->lTitle->text(), "Melvanto");
  EXPECT_EQ(Window->lTitle->property("role").toString(), "title");
  EXPECT_EQ(Window->lMain->text(), "Main");
  EXPECT_EQ(Window->lOptions->text(), "Options");
  EXPECT_EQ(Window->lHelp->text(), "Help");
  for (QLabel* heading : {Window->lMain, Window->lOptions, Window->lHelp})
    EXPECT_EQ(heading->property("role").toString(), "heading");
  EXPECT_EQ(Window->Image1->geometry(), QRect(0, 0, 400, 303));

  struct Row {
    QPushButton* Button;
    const char* Caption;
    const char* Hint;
  };
  const Row rows[] = {
      {Window->bSettings, "Settings   ", "Open the options dialog to set"},
      {Window->bShowFiles, "Show Files", "Open the output folder"},
      {Window->bHomepage, "Homepage", "Homepage"},
      {Window->bDonate, "Donate", "Donate"},
      {Window->bAbout, "About", "About"},
      {Window->bExit, "Exit", "Exit"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.Button->text(), row.Caption);
    EXPECT_EQ(row.Button->toolTip(), row.Hint);
    EXPECT_EQ(row.Button->property("role").toString(), "flat");
  }
  EXPECT_EQ(Window->bMinimize->toolTip(), "Minimize");
  EXPECT_EQ(Window->bClose->toolTip(), "Close");

  // The hidden helpers: the genre list as the tag editor has it, the codec lists.
  EXPECT_EQ(Window->ID3genre->count(), static_cast<int>(kDisplayGenres.size()));
  EXPECT_EQ(Window->ID3genre->itemText(0), "");
  EXPECT_EQ(Window->ID3genre->itemText(GenreIndex(u"Blues")), "Blues");
  Window->show();
  EXPECT_FALSE(Window->ID3genre->isVisible());
  EXPECT_FALSE(Window->lbCodecs->isVisible());
  EXPECT_FALSE(Window->lbFormats->isVisible());
}

TEST_F(MainWindowTest, HelpGroupOpensPagesAndTheWindowButtonsMinimiseAndClose) {
  KeepSettingsFile keep;  // closing saves
  Window->show();
  QTest::mouseClick(Window->bHomepage, Qt::LeftButton);
  QTest::mouseClick(Window->bDonate, Qt::LeftButton);
  QTest::mouseClick(Window->lLink, Qt::LeftButton);
  ASSERT_EQ(Dialogs.Urls.size(), 3u);
  EXPECT_EQ(Dialogs.Urls[0], QUrl(gui::kHomePage));
  EXPECT_EQ(Dialogs.Urls[1], QUrl(gui::kDonatePage));
  EXPECT_EQ(Dialogs.Urls[2], QUrl(gui::kHomePage));
  EXPECT_EQ(Window->lLink->text(), gui::kMakerAddress);

  QTest::mouseClick(Window->bMinimize, Qt::LeftButton);
  EXPECT_TRUE(Window->isMinimized());
  Window->showNormal();
  QTest::mouseClick(Window->bClose, Qt::LeftButton);
  EXPECT_FALSE(Window->isVisible());
  Window->show();
  QTest::mouseClick(Window->bExit, Qt::LeftButton);
  EXPECT_FALSE(Window->isVisible());
}

TEST_F(MainWindowTest, SettingsAndAboutAreShownModallyOwnedByTheWindow) {
  std::vector<QWidget*> owners;
  Dialogs.OnExec = [&](QDialog& dialog) {
    owners.push_back(dialog.parentWidget());
    return int(QDialog::Rejected);
  };
  Window->show();
  QTest::mouseClick(Window->bSettings, Qt::LeftButton);
  QTest::mouseClick(Window->bAbout, Qt::LeftButton);
  EXPECT_EQ(Dialogs.Executed,
            (std::vector<QString>{"melvanto::gui::TfrmOptions", "melvanto::gui::TfrmAbout"}));
  EXPECT_EQ(owners, (std::vector<QWidget*>{Window.get(), Window.get()}));
}

// Each key that presses a focused button does it once: a direction asks for files, About shows
// its box.
TEST_F(MainWindowTest, ReturnEnterAndSpacePressTheFocusedButton) {
  Dialogs.OnExec = [](QDialog&) { return int(QDialog::Rejected); };
  Window->show();
  const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
      {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}, {Qt::Key_Space, Qt::NoModifier}};
  std::size_t pressed = 0;
  for (const auto& [key, modifiers] : keys) {
    ++pressed;
    Window->bWAVtoMP3->setFocus();
    QTest::keyClick(Window->bWAVtoMP3, key, modifiers);
    EXPECT_EQ(Dialogs.Opens.size(), pressed) << "key " << key;
    Window->bAbout->setFocus();
    QTest::keyClick(Window->bAbout, key, modifiers);
    EXPECT_EQ(Dialogs.Executed.size(), pressed) << "key " << key;
  }
}

TEST_F(MainWindowTest, MissingOutputFolderStopsBeforeTheFileDialog) {
  const QString expected = "The output folder does not exist. Please check the output directory setting.";
  for (const std::string& folder : {(Output / "missing").string(), std::string()}) {
    SCOPED_TRACE(folder);
    Dialogs.Messages.clear();
    Window->OptionsSetting.CommonOptions.OutputFolder = folder;
    Window->RunBatch(TConversionMode::cmWavToMp3);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Caption, "Melvanto");
    EXPECT_EQ(Dialogs.Messages[0].Text, expected);
    EXPECT_EQ(Dialogs.Messages[0].Icon, QMessageBox::Information);
    EXPECT_TRUE(Dialogs.Opens.empty());
  }
  // A file lies where the folder should be: not a folder either.
  WriteText(Output / "file", "x");
  Window->OptionsSetting.CommonOptions.OutputFolder = (Output / "file").string();
  Window->RunBatch(TConversionMode::cmWavToMp3);
  EXPECT_EQ(Dialogs.Messages.size(), 2u);
  EXPECT_TRUE(Dialogs.Opens.empty());

  // Outputs beside their inputs need no output folder.
  Window->OptionsSetting.CommonOptions.SameAsInputFolder = true;
  Window->RunBatch(TConversionMode::cmWavToMp3);
  EXPECT_EQ(Dialogs.Messages.size(), 2u);
  EXPECT_EQ(Dialogs.Opens.size(), 1u);
}

TEST_F(MainWindowTest, CancelledFileDialogStartsNothingAndKeepsTheTagValues) {
  Window->TagInfo.Artist = u"kept";
  Window->RunBatch(TConversionMode::cmWavToMp3);
  EXPECT_EQ(Dialogs.Opens.size(), 1u);
  EXPECT_TRUE(Dialogs.Executed.empty());
  EXPECT_EQ(Window->TagInfo.Artist, u"kept");
}

TEST_F(MainWindowTest, TagEditorIsShownWhenTheSettingsAskAndNeverForWav) {
  struct Case {
    TConversionMode D;
    int Files;
    bool ShowTagEditor, SameTag, Shown;
  };
  using M = TConversionMode;
  const Case cases[] = {
      {M::cmWavToMp3, 1, true, false, true}, {M::cmWavToMp3, 1, false, true, false},
      {M::cmWavToMp3, 2, false, true, true}, {M::cmWavToMp3, 2, true, false, false},
      {M::cmWavToWma, 1, true, false, true}, {M::cmMp3ToWma, 3, false, true, true},
      {M::cmWmaToMp3, 1, true, true, true},  {M::cmMp3ToWav, 1, true, true, false},
      {M::cmWmaToWav, 2, true, true, false}, {M::cmWmaToWav, 1, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "direction " << int(c.D) << ", " << c.Files << " files, show "
                                      << c.ShowTagEditor << ", same " << c.SameTag);
    Window->OptionsSetting.CommonOptions.IsShowTagEditor = c.ShowTagEditor;
    Window->OptionsSetting.CommonOptions.IsSameTag = c.SameTag;
    QStringList files;
    for (int i = 0; i < c.Files; ++i) files << Q(Sources / ("f" + std::to_string(i) + ".x"));
    Dialogs.FilesToOpen = {files};
    Dialogs.Executed.clear();
    std::optional<bool> titleEnabled, titleLabelEnabled, mp3Output;
    RecordRunnerWithoutRunning();
    auto recordRunner = Dialogs.OnExec;
    Dialogs.OnExec = [&](QDialog& dialog) {
      if (auto* editor = qobject_cast<gui::TfrmTagEditor*>(&dialog)) {
        EXPECT_EQ(editor->parentWidget(), Window.get());
        titleEnabled = editor->ID3title->isEnabled();
        titleLabelEnabled = editor->lTitle->isEnabled();
        mp3Output = editor->Mp3Output();
        return int(QDialog::Accepted);
      }
      return recordRunner(dialog);
    };
    Window->RunBatch(c.D);
    if (c.Shown) {
      EXPECT_EQ(Dialogs.Executed, (std::vector<QString>{kEditor, kProgress}));
      // One title for several files makes no sense: it is taken from each file's name.
      EXPECT_EQ(titleEnabled, c.Files == 1);
      EXPECT_EQ(titleLabelEnabled, c.Files == 1);
      // Only an MP3 output has the ID3v1 record the editor's note is about.
      EXPECT_EQ(mp3Output, c.D == M::cmWavToMp3 || c.D == M::cmWmaToMp3);
    } else {
      EXPECT_EQ(Dialogs.Executed, std::vector<QString>{kProgress});
    }
    EXPECT_EQ(RunnerMode, c.D);
    EXPECT_EQ(RunnerFiles.size(), static_cast<std::size_t>(c.Files));
  }
}

TEST_F(MainWindowTest, CancelInTheTagEditorStartsNoBatch) {
  Dialogs.FilesToOpen = {{Q(Sources / "song.wav")}};
  std::u16string titleSeen;
  Dialogs.OnExec = [&](QDialog&) {
    titleSeen = Window->TagInfo.Title;
    return int(QDialog::Rejected);
  };
  Window->RunBatch(TConversionMode::cmWavToMp3);
  EXPECT_EQ(Dialogs.Executed, std::vector<QString>{kEditor});
  // The title comes from the single file's name, before the editor opens.
  EXPECT_EQ(titleSeen, u"song");
}

// Sources for the batches, made once: a WAV by sox, an MP3 and a WMA with tags of their own by
// ffmpeg (a WMA file's comment is its Description, which ffmpeg calls "comment").
const MadeFiles& BatchSources() {
  const std::string ff = "ffmpeg -nostdin -v error -y -i tone.wav ";
  static const MadeFiles files(
      HaveTool("sox") && HaveTool("ffmpeg") && HaveMp3Encoder(),
      "sox -n -r 44100 -c 2 -b 16 tone.wav synth 1.5 sine 440 gain -6"
      " && " +
          ff +
          "-c:a libmp3lame -b:a 128k -id3v2_version 3 -metadata title=SongTitle"
          " -metadata artist=SongArtist -metadata album=SongAlbum -metadata genre=Jazz"
          " -metadata date=1999 -metadata track=4 song.mp3"
          " && " +
          ff +
          "-c:a wmav2 -b:a 128k -metadata title=ClipTitle -metadata artist=ClipArtist"
          " -metadata album=ClipAlbum -metadata genre=Blues -metadata date=2011 -metadata track=12"
          " -metadata comment=ClipComment clip.wma");
  return files;
}

#define REQUIRE_BATCH_SOURCES()                                      \
  MELVANTO_REQUIRE_COMMAND("sox");                                   \
  MELVANTO_REQUIRE_COMMAND("ffmpeg");                                \
  MELVANTO_REQUIRE_COMMAND("ffprobe");                               \
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame"); \
  ASSERT_TRUE(BatchSources().Ready()) << "the source files could not be made"

TEST_F(MainWindowTest, SingleFileTakesItsTitleAndForWmaAndMp3SourcesItsOwnTags) {
  REQUIRE_BATCH_SOURCES();
  const MadeFiles& src = BatchSources();
  std::optional<TTagInfo> seen;
  Dialogs.OnExec = [&](QDialog& dialog) {
    if (qobject_cast<gui::TfrmTagEditor*>(&dialog)) seen = Window->TagInfo;
    return int(QDialog::Rejected);
  };
  TTagInfo clip;
  clip.Title = u"ClipTitle";
  clip.Artist = u"ClipArtist";
  clip.Album = u"ClipAlbum";
  clip.Year = u"2011";
  clip.Genre = GenreIndex(u"Blues");
  clip.Track = u"12";
  clip.Comment = u"ClipComment";
  ASSERT_GT(clip.Genre, 0);

  Window->TagInfo.Artist = u"from an earlier batch";
  Dialogs.FilesToOpen = {{QString::fromStdString(src / "clip.wma")}};
  Window->RunBatch(TConversionMode::cmWmaToMp3);
  ASSERT_TRUE(seen);
  EXPECT_EQ(*seen, clip);

  seen.reset();
  Dialogs.FilesToOpen = {{QString::fromStdString(src / "song.mp3")}};
  Window->RunBatch(TConversionMode::cmMp3ToWma);
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->Title, u"SongTitle");
  EXPECT_EQ(seen->Artist, u"SongArtist");
  EXPECT_EQ(seen->Genre, GenreIndex(u"Jazz"));

  // Towards WAV no tags are read: the name is the title, the rest is cleared.
  Dialogs.FilesToOpen = {{QString::fromStdString(src / "clip.wma")}};
  Window->RunBatch(TConversionMode::cmWmaToWav);
  TTagInfo nameOnly;
  nameOnly.Title = u"clip";
  EXPECT_EQ(Window->TagInfo, nameOnly);

  // Several files share one set of values: nothing of either file's.
  seen.reset();
  Window->OptionsSetting.CommonOptions.IsSameTag = true;
  Dialogs.FilesToOpen = {
      {QString::fromStdString(src / "clip.wma"), QString::fromStdString(src / "clip.wma")}};
  Window->RunBatch(TConversionMode::cmWmaToMp3);
  ASSERT_TRUE(seen);
  EXPECT_EQ(*seen, TTagInfo());
}

// The first format whose description names 96 kbps, 44 kHz stereo CBR, letter case aside.
std::pair<int, int> First96kFormat() {
  TWMAOut lister;
  for (int c = 0; c < static_cast<int>(lister.Codecs().size()); ++c) {
    const std::vector<std::string> formats = lister.Formats(c);
    for (int f = 0; f < static_cast<int>(formats.size()); ++f)
      if (QString::fromStdString(formats[f]).contains("96 kbps, 44 khz, stereo cbr", Qt::CaseInsensitive))
        return {c, f};
  }
  return {0, 0};
}

TEST_F(MainWindowTest, FirstShowListsCodecsAndReplacesAStoredChoiceOutOfRange) {
  TWMAOut lister;
  const auto codecs = lister.Codecs();
  ASSERT_FALSE(codecs.empty());
  const auto formats0 = lister.Formats(0);
  ASSERT_GE(formats0.size(), 2u);
  const auto expected = First96kFormat();

  Window->OptionsSetting.CodecIndex = static_cast<int>(codecs.size());  // one past the last codec
  Window->OptionsSetting.FormatIndex = 0;
  Window->show();
  ASSERT_EQ(Window->lbCodecs->count(), static_cast<int>(codecs.size()));
  EXPECT_EQ(Window->lbCodecs->item(0)->text().toStdString(), codecs[0]);
  EXPECT_EQ(Window->lbCodecs->currentRow(), 0);
  ASSERT_EQ(Window->lbFormats->count(), static_cast<int>(formats0.size()));
  EXPECT_EQ(Window->lbFormats->currentRow(), 0);
  EXPECT_EQ(Window->OptionsSetting.CodecIndex, expected.first);
  EXPECT_EQ(Window->OptionsSetting.FormatIndex, expected.second);

  // Only the first show chooses: a choice made later stays when the window comes back.
  Window->OptionsSetting.CodecIndex = 0;
  Window->OptionsSetting.FormatIndex = static_cast<int>(formats0.size()) - 1;
  Window->hide();
  Window->show();
  EXPECT_EQ(Window->OptionsSetting.FormatIndex, static_cast<int>(formats0.size()) - 1);

  // A stored choice within the lists is kept; a format past its codec's list is not.
  Window->OptionsSetting.FormatIndex = static_cast<int>(formats0.size()) - 1;
  Window->ChooseDefaultWMA();
  EXPECT_EQ(Window->OptionsSetting.CodecIndex, 0);
  EXPECT_EQ(Window->OptionsSetting.FormatIndex, static_cast<int>(formats0.size()) - 1);
  Window->OptionsSetting.FormatIndex = static_cast<int>(formats0.size());
  Window->ChooseDefaultWMA();
  EXPECT_EQ(Window->OptionsSetting.CodecIndex, expected.first);
  EXPECT_EQ(Window->OptionsSetting.FormatIndex, expected.second);
}

// No codec has VBR formats here: a VBR choice stored by an older version would fail every
// WMA; the window starts on the CBR choice instead.
TEST_F(MainWindowTest, AStoredVbrChoiceThatCannotConvertIsDropped) {
  bool anyVbr = false;
  for (const TWMACodec& codec : ListWMACodecs(true)) anyVbr = anyVbr || !codec.Formats.empty();
  if (anyVbr) GTEST_SKIP() << "this system has VBR WMA formats";
  Window->OptionsSetting.VBR = true;
  Window->OptionsSetting.CodecIndex = 0;
  Window->OptionsSetting.FormatIndex = 0;
  Window->show();
  EXPECT_FALSE(Window->OptionsSetting.VBR);
  EXPECT_EQ(Window->OptionsSetting.CodecIndex, 0);
  EXPECT_EQ(Window->OptionsSetting.FormatIndex, 0) << "a CBR choice within the lists is kept";
}

TEST_F(MainWindowTest, HitTestDragsOnTheBackgroundOnly) {
  Window->show();
  // Between the two columns lies only the background picture.
  EXPECT_TRUE(Window->HitTestIsCaption(QPoint(205, 150)));
  EXPECT_TRUE(Window->HitTestIsCaption(QPoint(0, 0)));
  EXPECT_TRUE(Window->HitTestIsCaption(QPoint(399, 302)));
  for (QWidget* control :
       std::vector<QWidget*>{Window->lTitle, Window->lMain, Window->lLink, Window->bSettings, Window->bExit,
                             Window->bWAVtoMP3, Window->bClose, Window->sMain}) {
    SCOPED_TRACE(control->objectName().toStdString());
    const QRect r = control->geometry();
    EXPECT_FALSE(Window->HitTestIsCaption(r.center()));
    // Edges included, on all four sides.
    EXPECT_FALSE(Window->HitTestIsCaption(r.topLeft()));
    EXPECT_FALSE(Window->HitTestIsCaption(QPoint(r.x() + r.width(), r.y() + r.height())));
  }
  // Just outside a heading that has only background around it.
  const QRect main = Window->lMain->geometry();
  EXPECT_TRUE(Window->HitTestIsCaption(QPoint(main.x() - 1, main.center().y())));
  EXPECT_TRUE(Window->HitTestIsCaption(QPoint(main.x() + main.width() + 1, main.center().y())));
  EXPECT_TRUE(Window->HitTestIsCaption(QPoint(main.center().x(), main.y() - 1)));

  // Hidden controls keep nothing: with the heading hidden, its place drags.
  Window->lMain->hide();
  EXPECT_TRUE(Window->HitTestIsCaption(main.center()));
}

TEST_F(MainWindowTest, PressOnTheBackgroundMovesTheWindowAndOnALabelDoesNot) {
  Window->show();
  const QPoint start = Window->pos();
  const auto send = [](QWidget* target, QEvent::Type type, QPoint local, QPoint global,
                       Qt::MouseButtons buttons) {
    QMouseEvent e(type, local, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(target, &e);
  };
  // The press lands on the background picture and reaches the window through it.
  const QPoint at(205, 150);
  const QPoint global = Window->mapToGlobal(at);
  send(Window->Image1, QEvent::MouseButtonPress, at, global, Qt::LeftButton);
  send(Window->Image1, QEvent::MouseMove, at + QPoint(30, 20), global + QPoint(30, 20), Qt::LeftButton);
  send(Window->Image1, QEvent::MouseButtonRelease, at + QPoint(30, 20), global + QPoint(30, 20),
       Qt::NoButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Window->pos() == start + QPoint(30, 20); }, 10000))
      << Window->pos().x() << "," << Window->pos().y();
  // After the release a move moves nothing.
  const QPoint moved = Window->pos();
  send(Window->Image1, QEvent::MouseMove, at + QPoint(80, 80), global + QPoint(80, 80), Qt::NoButton);
  EXPECT_EQ(Window->pos(), moved);

  const QPoint onLabel = Window->lMain->rect().center();
  const QPoint labelGlobal = Window->lMain->mapToGlobal(onLabel);
  send(Window->lMain, QEvent::MouseButtonPress, onLabel, labelGlobal, Qt::LeftButton);
  send(Window->lMain, QEvent::MouseMove, onLabel + QPoint(40, 0), labelGlobal + QPoint(40, 0),
       Qt::LeftButton);
  send(Window->lMain, QEvent::MouseButtonRelease, onLabel, labelGlobal, Qt::NoButton);
  QApplication::processEvents();
  EXPECT_EQ(Window->pos(), moved);
}

TEST_F(MainWindowTest, ShowFilesOpensTheOutputFolderOrSaysItIsMissing) {
  Window->show();
  QTest::mouseClick(Window->bShowFiles, Qt::LeftButton);
  ASSERT_EQ(Dialogs.Urls.size(), 1u);
  EXPECT_EQ(Dialogs.Urls[0], QUrl::fromLocalFile(Q(Output.Path())));
  EXPECT_TRUE(Dialogs.Messages.empty());

  // Also with outputs beside their inputs the button shows the output folder.
  const std::string missing = (Output / "gone").string();
  Window->OptionsSetting.CommonOptions.OutputFolder = missing;
  Window->OptionsSetting.CommonOptions.SameAsInputFolder = true;
  QTest::mouseClick(Window->bShowFiles, Qt::LeftButton);
  EXPECT_EQ(Dialogs.Urls.size(), 1u);
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(Dialogs.Messages[0].Caption, "Melvanto");
  EXPECT_EQ(Dialogs.Messages[0].Text,
            QString::fromStdString(missing) + ": the output folder does not exist.");
  EXPECT_EQ(Dialogs.Messages[0].Icon, QMessageBox::Critical);
}

TEST_F(MainWindowTest, CloseSavesTheSettingsOnce) {
  KeepSettingsFile keep;
  Window->OptionsSetting.CommonOptions.IsSameTag = true;
  Window->OptionsSetting.ConstantBitRate = 7;
  Window->OptionsSetting.CodecIndex = 0;
  Window->OptionsSetting.FormatIndex = 3;
  Window->show();
  Window->close();
  const std::string text = ReadText(keep.Path());
  EXPECT_NE(text.find("OutputFolder=" + Output.String()), std::string::npos) << text;
  EXPECT_NE(text.find("IsSameTag=1"), std::string::npos) << text;
  EXPECT_NE(text.find("ConstantBitRate=7"), std::string::npos) << text;
  EXPECT_NE(text.find("FormatIndex=3"), std::string::npos) << text;
  EXPECT_TRUE(Dialogs.Messages.empty());

  // Closing again writes nothing more.
  Window->OptionsSetting.ConstantBitRate = 2;
  Window->close();
  EXPECT_EQ(ReadText(keep.Path()), text);

  // A new window starts from what was saved.
  TfrmMain second;
  EXPECT_EQ(second.OptionsSetting.ConstantBitRate, 7);
  EXPECT_TRUE(second.OptionsSetting.CommonOptions.IsSameTag);
}

// OK in the options writes the file at once: a kill before the window closes keeps the choice.
TEST_F(MainWindowTest, OptionsOkWritesTheSettingsBeforeTheWindowCloses) {
  KeepSettingsFile keep;
  std::error_code ignored;
  fs::remove(keep.Path(), ignored);
  Dialogs.OnExec = [](QDialog& dialog) {
    auto& options = dynamic_cast<gui::TfrmOptions&>(dialog);
    options.cbConstantBitRate->setCurrentIndex(7);
    QTest::mouseClick(options.btOk, Qt::LeftButton);
    return options.result();
  };
  Window->show();
  QTest::mouseClick(Window->bSettings, Qt::LeftButton);
  ASSERT_TRUE(Window->isVisible());
  EXPECT_EQ(Window->OptionsSetting.ConstantBitRate, 7);
  const std::string text = ReadText(keep.Path());
  EXPECT_NE(text.find("ConstantBitRate=7"), std::string::npos) << text;
  EXPECT_NE(text.find("OutputFolder=" + Output.String()), std::string::npos) << text;
  EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(MainWindowTest, SettingsThatCannotBeSavedAreReported) {
  KeepSettingsFile keep;
  std::error_code ignored;
  fs::remove(keep.Path(), ignored);
  // A folder in the file's place: the new file cannot replace it.
  fs::create_directories(keep.Path() / "blocker");
  Window->show();
  Window->close();
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(Dialogs.Messages[0].Caption, "Melvanto");
  EXPECT_TRUE(Dialogs.Messages[0].Text.contains("could not be saved"))
      << Dialogs.Messages[0].Text.toStdString();
  EXPECT_TRUE(Dialogs.Messages[0].Text.contains(Q(keep.Path())));
}

// No settings folder can be made: the defaults, said once at start; closing says nothing
// more and writes nothing, least of all beside the program.
TEST_F(MainWindowTest, NoSettingsFolderIsSaidOnceAndNothingIsSaved) {
  struct RestoreConfig {
    std::string Old = ::getenv("XDG_CONFIG_HOME");
    ~RestoreConfig() { ::setenv("XDG_CONFIG_HOME", Old.c_str(), 1); }
  } restore;
  WriteText(Program / "plain-file", "");
  ::setenv("XDG_CONFIG_HOME", (Program / "plain-file" / "config").c_str(), 1);
  {
    TfrmMain window;
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Icon, QMessageBox::Warning);
    EXPECT_TRUE(Dialogs.Messages[0].Text.contains(Q(Program / "plain-file" / "config")))
        << Dialogs.Messages[0].Text.toStdString();
    EXPECT_TRUE(Dialogs.Messages[0].Text.contains("default settings are used"));
    EXPECT_EQ(window.OptionsSetting.CPU, TOptionsSetting().CPU);
    window.show();
    window.close();
    EXPECT_EQ(Dialogs.Messages.size(), 1u) << "no second notice at the end";
  }
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(Program.Path()))
    if (!entry.is_directory()) files.push_back(entry.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{"plain-file"});
}

TEST_F(MainWindowTest, RestoreMessageBringsBackAMinimisedOrHiddenWindow) {
  Window->show();
  Window->showMinimized();
  ASSERT_TRUE(Window->isMinimized());
  QCoreApplication::postEvent(Window.get(), std::make_unique<QEvent>(gui::kRestoreEvent).release());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Window->isMinimized() && Window->isVisible(); }, 10000));

  Window->hide();
  QCoreApplication::postEvent(Window.get(), std::make_unique<QEvent>(gui::kRestoreEvent).release());
  EXPECT_TRUE(QTest::qWaitFor([&] { return Window->isVisible(); }, 10000));
  EXPECT_FALSE(Window->isMinimized());
}

// ffprobe's value of one tag of a file's container, empty when absent.
std::string ProbeTag(const std::string& path, const std::string& key) {
  const std::string text = Probe(path, "format_tags=" + key);
  const std::string prefix = "TAG:" + key + "=";
  const auto at = text.find(prefix);
  if (at == std::string::npos) return {};
  const auto end = text.find('\n', at);
  return text.substr(at + prefix.size(),
                     end == std::string::npos ? std::string::npos : end - at - prefix.size());
}

TEST_F(MainWindowTest, AllSixDirectionsEndToEnd) {
  REQUIRE_BATCH_SOURCES();
  const MadeFiles& src = BatchSources();
  struct Row {
    TConversionMode D;
    std::string Source, Output, Codec, Title;
  };
  using M = TConversionMode;
  const Row rows[] = {
      {M::cmWavToMp3, "tone.wav", "tone.mp3", "mp3", "tone"},
      {M::cmWavToWma, "tone.wav", "tone.wma", "wmav", "tone"},
      {M::cmMp3ToWav, "song.mp3", "song.wav", "pcm_s16le", ""},
      {M::cmWmaToWav, "clip.wma", "clip.wav", "pcm_s16le", ""},
      {M::cmMp3ToWma, "song.mp3", "song.wma", "wmav", "SongTitle"},
      {M::cmWmaToMp3, "clip.wma", "clip.mp3", "mp3", "ClipTitle"},
  };
  Window->show();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Output);
    Dialogs.FilesToOpen = {{QString::fromStdString(src / row.Source)}};
    Dialogs.Executed.clear();
    Dialogs.OnExec = [&](QDialog& dialog) {
      if (auto* editor = qobject_cast<gui::TfrmTagEditor*>(&dialog)) {
        // The user changes one value and starts.
        editor->ID3artist->setText("Edited Artist");
        editor->btOkClick();
        return editor->result();
      }
      // The summary that ends the batch is closed at once.
      if (qobject_cast<gui::TfrmBatchSummary*>(&dialog) != nullptr) return int(QDialog::Accepted);
      // A batch that never ends fails here instead of hanging the run.
      QTimer watchdog;
      watchdog.setSingleShot(true);
      QObject::connect(&watchdog, &QTimer::timeout, &dialog, [&dialog] {
        ADD_FAILURE() << "the progress window did not close";
        dialog.reject();
      });
      watchdog.start(180000);
      return dialog.exec();
    };
    Window->RunBatch(row.D);
    const bool toWav = row.Codec == "pcm_s16le";
    EXPECT_EQ(Dialogs.Executed, (toWav ? std::vector<QString>{kProgress, kSummary}
                                       : std::vector<QString>{kEditor, kProgress, kSummary}));

    const std::string out = (Output / row.Output).string();
    ASSERT_TRUE(fs::is_regular_file(out)) << out;
    const std::string probe = Probe(out, "stream=codec_name:format=duration");
    EXPECT_NE(probe.find("codec_name=" + row.Codec), std::string::npos) << probe;
    EXPECT_NEAR(Field(probe, "duration"), 1.5, 0.15) << probe;
    if (!toWav) {
      EXPECT_EQ(ProbeTag(out, "title"), row.Title);
      EXPECT_EQ(ProbeTag(out, "artist"), "Edited Artist");
    }
  }
  // The source's own values the user left alone travel on.
  EXPECT_EQ(ProbeTag((Output / "clip.mp3").string(), "album"), "ClipAlbum");
  EXPECT_EQ(ProbeTag((Output / "song.wma").string(), "album"), "SongAlbum");
}

// Files dropped on the window or handed to it: the direction question, then the batch as a
// button runs it.
class DropTest : public MainWindowTest {
 protected:
  struct Question {
    QString Text;
    std::vector<QString> Offered, Captions;
    QString Selected;
  };

  // The question is answered with answer (nothing: Cancel); the tag editor is accepted; the
  // progress window is recorded, not run.
  void Answer(std::optional<TConversionMode> answer) {
    Dialogs.OnExec = [this, answer](QDialog& dialog) {
      if (auto* chooser = qobject_cast<gui::TfrmDropDirection*>(&dialog)) {
        Question asked{chooser->lText->text(), {}, {}, {}};
        for (QRadioButton* button : chooser->Buttons) {
          asked.Offered.push_back(button->objectName());
          asked.Captions.push_back(button->text());
          if (button->isChecked()) asked.Selected = button->objectName();
        }
        Questions.push_back(asked);
        if (!answer || !chooser->Choose(*answer)) return int(QDialog::Rejected);
        return int(QDialog::Accepted);
      }
      if (auto* progress = qobject_cast<gui::TfrmEncodeProgress*>(&dialog)) {
        RunnerMode = progress->Mode();
        RunnerFiles = progress->Runner().Files();
        ++Batches;
        if (DuringBatch) DuringBatch();
        return int(QDialog::Rejected);
      }
      return int(QDialog::Accepted);
    };
  }

  std::string Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    WriteText(path, "");
    return path.string();
  }

  // A drag of urls entering the window, then its drop: whether each was accepted.
  std::pair<bool, bool> DragAndDrop(const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Window.get(), &enter);
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Window.get(), &drop);
    return {enter.isAccepted(), drop.isAccepted()};
  }

  bool WaitForBatches(int count) {
    return QTest::qWaitFor([&] { return Batches >= count; }, 30000);
  }

  std::vector<Question> Questions;
  int Batches = 0;
  std::function<void()> DuringBatch;
};

TEST_F(DropTest, ThreeDroppedFilesRunInTheChosenOfTheirTwoDirections) {
  const std::vector<std::string> files = {Touch(Sources / "a.wav"), Touch(Sources / "b c.WAV"),
                                          Touch(Sources / "new\nline.wav")};
  QList<QUrl> urls;
  for (const std::string& f : files) urls << QUrl::fromLocalFile(QString::fromStdString(f));
  Answer(TConversionMode::cmWavToWma);
  Window->show();
  EXPECT_EQ(DragAndDrop(urls), std::make_pair(true, true));
  ASSERT_TRUE(WaitForBatches(1));
  ASSERT_EQ(Questions.size(), 1u);
  EXPECT_EQ(Questions[0].Offered, (std::vector<QString>{"wav-mp3", "wav-wma"}));
  EXPECT_EQ(Questions[0].Captions, (std::vector<QString>{"WAV to MP3", "WAV to WMA"}));
  EXPECT_EQ(Questions[0].Selected, "wav-mp3");
  EXPECT_EQ(Questions[0].Text, "3 WAV files to convert.");
  EXPECT_EQ(RunnerMode, TConversionMode::cmWavToWma);
  EXPECT_EQ(RunnerFiles, files);
  EXPECT_TRUE(Dialogs.Opens.empty()) << "no file dialog for dropped files";

  // The next WAV drop offers the direction last run from WAV first; Cancel starts nothing.
  Answer(std::nullopt);
  EXPECT_EQ(DragAndDrop({urls[0]}), std::make_pair(true, true));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Questions.size() == 2; }, 30000));
  EXPECT_EQ(Questions[1].Selected, "wav-wma");
  EXPECT_EQ(Questions[1].Text, "1 WAV file to convert.");
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(Batches, 1);
}

TEST_F(DropTest, DroppedFolderAddsOnlyTheChosenTypesFilesFromEveryDepth) {
  const fs::path music = Sources / "music";
  Touch(music / "top.wav");
  const std::string deep = Touch(music / "b" / "deeper" / "deep.mp3");
  const std::string upper = Touch(music / "a" / "UPPER.MP3");
  Touch(music / "a" / "side.wav");
  Touch(music / "a" / "notes.txt");
  const std::string named = Touch(Sources / "named.mp3");
  const std::string other = Touch(Sources / "cover.jpg");
  Answer(TConversionMode::cmMp3ToWma);
  Window->OpenPaths({music.string(), named, other});
  ASSERT_EQ(Batches, 1);
  ASSERT_EQ(Questions.size(), 1u);
  EXPECT_EQ(Questions[0].Offered, (std::vector<QString>{"wav-mp3", "wav-wma", "mp3-wav", "mp3-wma"}));
  EXPECT_EQ(Questions[0].Captions.back(), "MP3 to WMA");
  EXPECT_EQ(Questions[0].Text,
            "The files are of several types: 2 WAV files, 3 MP3 files. Only the chosen direction's files are "
            "converted; the others are left out.\n\nNot WAV, MP3 or WMA, left out: cover.jpg.");
  EXPECT_EQ(RunnerMode, TConversionMode::cmMp3ToWma);
  EXPECT_EQ(RunnerFiles, (std::vector<std::string>{upper, deep, named}));
}

TEST_F(DropTest, OnlyLocalFilesAreTaken) {
  Answer(TConversionMode::cmMp3ToWav);
  Window->show();
  const QList<QUrl> remote = {QUrl("https://quorvane.example/a.mp3"), QUrl("ftp://host/b.mp3")};
  EXPECT_EQ(DragAndDrop(remote), std::make_pair(false, false));
  QCoreApplication::sendPostedEvents();
  EXPECT_TRUE(Dialogs.Executed.empty());
  EXPECT_TRUE(Dialogs.Messages.empty());

  // Among local ones, the others are passed over.
  const std::string local = Touch(Sources / "c.mp3");
  EXPECT_EQ(DragAndDrop({remote[0], QUrl::fromLocalFile(QString::fromStdString(local))}),
            std::make_pair(true, true));
  ASSERT_TRUE(WaitForBatches(1));
  EXPECT_EQ(RunnerFiles, std::vector<std::string>{local});
}

TEST_F(DropTest, DropWithoutAnyFileToConvertSaysSo) {
  Touch(Sources / "empty" / "sub" / "notes.txt");
  const std::string other = Touch(Sources / "cover.jpg");
  Answer(TConversionMode::cmWavToMp3);
  Window->OpenPaths({(Sources / "empty").string(), other});
  EXPECT_TRUE(Dialogs.Executed.empty());
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(Dialogs.Messages[0].Text,
            "There is no WAV, MP3 or WMA file to convert in:\n" + Q(Sources / "empty") + "\n" + Q(other));
}

// A second batch never starts inside the first: a drag is refused meanwhile and handed paths
// wait, then run once the first batch is over.
TEST_F(DropTest, PathsThatComeDuringABatchWaitForItsEnd) {
  const std::string first = Touch(Sources / "first.wma"), second = Touch(Sources / "second.wma");
  Answer(TConversionMode::cmWmaToMp3);
  std::vector<std::vector<std::string>> seen;
  DuringBatch = [&] {
    seen.push_back(RunnerFiles);
    if (Batches > 1) return;
    EXPECT_EQ(DragAndDrop({QUrl::fromLocalFile(QString::fromStdString(second))}),
              std::make_pair(false, false));
    Window->OpenPaths({second});
    EXPECT_EQ(Questions.size(), 1u) << "nothing asked while the batch runs";
  };
  Window->show();
  Window->OpenPaths({first});
  ASSERT_TRUE(WaitForBatches(2));
  EXPECT_EQ(seen, (std::vector<std::vector<std::string>>{{first}, {second}}));
  EXPECT_EQ(Questions.size(), 2u);
}

// Files handed over while the about box is open neither start a batch under it nor are lost.
TEST_F(DropTest, PathsThatComeWhileADialogIsOpenWaitForItToClose) {
  const std::string file = Touch(Sources / "song.mp3");
  Answer(TConversionMode::cmMp3ToWav);
  const auto answer = Dialogs.OnExec;
  bool dragTaken = true;
  Dialogs.OnExec = [&](QDialog& dialog) {
    if (!qobject_cast<gui::TfrmAbout*>(&dialog)) return answer(dialog);
    // Once the box runs modally: files come, the box is closed.
    QMetaObject::invokeMethod(
        &dialog,
        [&] {
          dragTaken = DragAndDrop({QUrl::fromLocalFile(QString::fromStdString(file))}).first;
          Window->OpenPaths({file});
          dialog.reject();
        },
        Qt::QueuedConnection);
    return dialog.exec();
  };
  Window->show();
  Window->bAboutClick();
  EXPECT_FALSE(dragTaken);
  EXPECT_TRUE(Questions.empty()) << "nothing asked under the about box";
  ASSERT_TRUE(WaitForBatches(1));
  EXPECT_EQ(RunnerFiles, std::vector<std::string>{file});
}


// A dropped library keeps its tree under the output folder, as the command line keeps it:
// albums repeat track names, so a flat output folder would take only the first of each name.
// "Same as input folder" puts each output beside its input instead.
TEST_F(DropTest, DroppedFolderKeepsItsTreeInTheOutputFolder) {
  REQUIRE_BATCH_SOURCES();
  const fs::path library = Sources / "library";
  for (const char* album : {"A/Album1", "B/Album2"}) {
    fs::create_directories(library / album);
    fs::copy_file(BatchSources() / "tone.wav", library / album / "01.wav");
  }
  struct Case {
    bool SameAsInput;
    fs::path Root;  // where the outputs' tree starts
  };
  for (const Case& c : {Case{false, Output.Path()}, Case{true, library}}) {
    SCOPED_TRACE(c.SameAsInput ? "same as input folder" : "output folder");
    Window->OptionsSetting.CommonOptions.SameAsInputFolder = c.SameAsInput;
    Answer(TConversionMode::cmWavToMp3);
    const auto answer = Dialogs.OnExec;
    std::vector<TFileResult> results;
    Dialogs.OnExec = [&](QDialog& dialog) {
      auto* progress = qobject_cast<gui::TfrmEncodeProgress*>(&dialog);
      if (progress == nullptr) return answer(dialog);
      const int result = dialog.exec();
      results = progress->Results();
      return result;
    };
    Window->OpenPaths({library.string()});
    ASSERT_EQ(results.size(), 2u);
    for (const TFileResult& r : results) EXPECT_EQ(r.Status, TFileResult::frConverted) << r.Input << ": " << r.Message;
    const fs::path first = c.Root / "A" / "Album1" / "01.mp3", second = c.Root / "B" / "Album2" / "01.mp3";
    EXPECT_TRUE(fs::is_regular_file(first)) << first;
    ASSERT_TRUE(fs::is_regular_file(second)) << second;
    const std::string probe = Probe(second.string(), "stream=codec_name:format=duration");
    EXPECT_NE(probe.find("codec_name=mp3"), std::string::npos) << probe;
    EXPECT_NEAR(Field(probe, "duration"), 1.5, 0.15) << probe;
  }
  EXPECT_FALSE(fs::exists(Output / "01.mp3")) << "nothing flat in the output folder";
}

}  // namespace
}  // namespace melvanto::testing
