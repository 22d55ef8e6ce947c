// The look: both styles, their images and the program icon; and a picture of every window,
// saved for people to look at (MELVANTO_SCREENSHOT_DIR).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <string>
#include <vector>

#include "about_box.h"
#include "batch_summary.h"
#include "drop_direction.h"
#include "encode_progress.h"
#include "fake_dialogs.h"
#include "main_window.h"
#include "options_dialog.h"
#include "settings.h"
#include "tag_editor.h"
#include "theme.h"

namespace melvanto::testing {
namespace {

using gui::ApplyTheme;
using gui::ThemePixmap;

// Every test leaves the default style in place, also when it fails half-way.
struct TThemeGuard {
  TThemeGuard() = default;
  TThemeGuard(const TThemeGuard&) = delete;
  TThemeGuard& operator=(const TThemeGuard&) = delete;
  ~TThemeGuard() { ApplyTheme(*qApp, gui::kDefaultTheme); }
};

int DistinctColours(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  QSet<QRgb> colours;
  for (int y = 0; y < argb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    for (int x = 0; x < argb.width(); ++x) colours.insert(line[x]);
  }
  return static_cast<int>(colours.size());
}

// Share of pixels that are not fully transparent.
double Coverage(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  long covered = 0;
  for (int y = 0; y < argb.height(); ++y)
    for (int x = 0; x < argb.width(); ++x) covered += qAlpha(argb.pixel(x, y)) > 0;
  return static_cast<double>(covered) / (argb.width() * argb.height());
}

double MeanLightness(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  double sum = 0;
  for (int y = 0; y < argb.height(); ++y)
    for (int x = 0; x < argb.width(); ++x) sum += qGray(argb.pixel(x, y));
  return sum / (argb.width() * argb.height());
}

double Lightness(const QColor& colour) {
  return qGray(colour.rgb());
}

TEST(Theme, KnowsItsTwoStylesAndRefusesOthers) {
  TThemeGuard guard;
  EXPECT_EQ(gui::ThemeNames(), QStringList({"DeepBlue", "BlueGlass"}));
  EXPECT_STREQ(gui::kDefaultTheme, "DeepBlue");
  EXPECT_EQ(gui::CurrentTheme(), "DeepBlue");
  const QString sheet = qApp->styleSheet();
  EXPECT_FALSE(sheet.isEmpty());
  EXPECT_FALSE(sheet.contains('@')) << "every colour of the sheet is filled in";
  EXPECT_FALSE(ApplyTheme(*qApp, "Silver"));
  EXPECT_FALSE(ApplyTheme(*qApp, "deepblue")) << "names are exact";
  EXPECT_EQ(gui::CurrentTheme(), "DeepBlue");
  EXPECT_EQ(qApp->styleSheet(), sheet) << "an unknown style changes nothing";

  ASSERT_TRUE(ApplyTheme(*qApp, "BlueGlass"));
  EXPECT_EQ(gui::CurrentTheme(), "BlueGlass");
  EXPECT_NE(qApp->styleSheet(), sheet);
  EXPECT_FALSE(qApp->styleSheet().contains('@'));
}

TEST(Theme, DrawsEveryImageInBothStylesAtTheAskedSize) {
  TThemeGuard guard;
  struct TImage {
    const char* Name;
    QSize Size;
    double MinCoverage;  // pictures fill their box; glyphs only part of it
  };
  const std::vector<TImage> images = {
      {"background", {400, 303}, 1.0}, {"banner", {360, 50}, 1.0}, {"icon", {32, 32}, 0.8},
      {"minimize", {16, 16}, 0.1},     {"close", {16, 16}, 0.1},   {"folder", {32, 32}, 0.5},
      {"donate", {86, 28}, 0.8},
  };
  for (const QString& theme : gui::ThemeNames()) {
    ASSERT_TRUE(ApplyTheme(*qApp, theme));
    for (const TImage& image : images) {
      SCOPED_TRACE(theme.toStdString() + " " + image.Name);
      const QImage picture = ThemePixmap(image.Name, image.Size).toImage();
      ASSERT_FALSE(picture.isNull());
      EXPECT_EQ(picture.size(), image.Size);
      EXPECT_GE(Coverage(picture), image.MinCoverage);
      EXPECT_LT(Coverage(picture), image.MinCoverage < 1.0 ? 1.0 : 1.1)
          << "shaped images keep see-through corners";
      EXPECT_GE(DistinctColours(picture), 3);
    }
    // Drawn for the size asked, not scaled from one fixed bitmap.
    EXPECT_EQ(ThemePixmap("background", {800, 606}).size(), QSize(800, 606));
  }
  EXPECT_TRUE(ThemePixmap("nothing", {16, 16}).isNull());
  EXPECT_TRUE(ThemePixmap("icon", {0, 0}).isNull());
}

TEST(Theme, BackgroundsDifferBetweenTheStylesAndKeepATitleBar) {
  TThemeGuard guard;
  const QImage deep = ThemePixmap("background", {400, 303}).toImage();
  ASSERT_TRUE(ApplyTheme(*qApp, "BlueGlass"));
  const QImage glass = ThemePixmap("background", {400, 303}).toImage();
  EXPECT_GT(MeanLightness(glass), MeanLightness(deep) + 60) << "BlueGlass is the light one";
  // The title bar (top 30 pixels) stands apart from the body below it in both.
  for (const QImage* image : {&deep, &glass}) {
    const QColor bar = image->pixelColor(200, 15), body = image->pixelColor(200, 60);
    EXPECT_GT(std::abs(Lightness(bar) - Lightness(body)), 20.0);
    EXPECT_GT(bar.blue(), bar.red()) << "a blue title bar, white glyphs read on it";
  }
}

TEST(Theme, ProgramIconComesInEverySizeAndReadsWhenSmall) {
  const QIcon icon = gui::ProgramIcon();
  const QList<QSize> sizes = icon.availableSizes();
  for (int side : {16, 24, 32, 48, 64, 128, 256}) EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
  EXPECT_FALSE(qApp->windowIcon().isNull()) << "the theme gives the application its icon";
  EXPECT_TRUE(qApp->windowIcon().availableSizes().contains(QSize(48, 48)));
  // At 16 pixels the white sound bars still stand out from the blue square.
  const QImage small = icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(small.size(), QSize(16, 16));
  int light = 0, dark = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const QRgb pixel = small.pixel(x, y);
      if (qAlpha(pixel) < 200) continue;
      light += qGray(pixel) > 200;
      dark += qGray(pixel) < 110;
    }
  EXPECT_GE(light, 8);
  EXPECT_GE(dark, 40);
  EXPECT_LT(qAlpha(small.pixel(0, 0)), 128) << "rounded corners";
}

TEST(Theme, TextStandsOutAndDialogsTakeTheStyle) {
  TThemeGuard guard;
  for (const QString& theme : gui::ThemeNames()) {
    SCOPED_TRACE(theme.toStdString());
    ASSERT_TRUE(ApplyTheme(*qApp, theme));
    const QPalette palette = qApp->palette();
    EXPECT_GT(
        std::abs(Lightness(palette.color(QPalette::WindowText)) - Lightness(palette.color(QPalette::Window))),
        100.0);
    EXPECT_GT(std::abs(Lightness(palette.color(QPalette::Text)) - Lightness(palette.color(QPalette::Base))),
              100.0);
    EXPECT_GT(std::abs(Lightness(palette.color(QPalette::Disabled, QPalette::Text)) -
                       Lightness(palette.color(QPalette::Text))),
              30.0)
        << "disabled text looks disabled";

    // A dialog drawn in the style: its background is the style's, not Qt's grey, and a
    // button on it is blue.
    QDialog dialog;
    dialog.resize(120, 80);
    auto* button = new QPushButton("OK", &dialog);
    button->setGeometry(10, 10, 80, 25);
    const QImage image = dialog.grab().toImage();
    const QColor corner = image.pixelColor(2, 70);
    EXPECT_GT(corner.blue(), corner.red() + 15) << corner.name().toStdString();
    const QColor face = image.pixelColor(50, 30);
    EXPECT_GT(face.blue(), face.red() + 15) << face.name().toStdString();
  }
}

// A window's picture: saved as name, the window's size, and not blank.
void SaveScreenshot(QWidget& window, const QString& name) {
  SCOPED_TRACE(name.toStdString());
  const QPixmap pixmap = window.grab();
  const QImage image = pixmap.toImage();
  EXPECT_EQ(image.size(), window.size() * pixmap.devicePixelRatio());
  // Text, gradients and images give many colours; an empty or unstyled window a few.
  EXPECT_GE(DistinctColours(image), 150);
  const QString path = QDir(MELVANTO_SCREENSHOT_DIR).filePath(name);
  EXPECT_TRUE(image.save(path)) << path.toStdString();
  EXPECT_FALSE(QImage(path).isNull());
}

TEST(Screenshots, EveryWindow) {
  TThemeGuard guard;
  FakeDialogs dialogs;
  ASSERT_TRUE(QDir().mkpath(MELVANTO_SCREENSHOT_DIR));
  // The records a main window holds, as it loaded them.
  TOptionsSetting settings;
  TTagInfo tags;

  {
    gui::TfrmMain main;
    main.show();
    EXPECT_EQ(main.size(), QSize(400, 303));
    SaveScreenshot(main, "main.png");
    main.hide();
    settings = main.OptionsSetting;
  }
  {
    gui::TfrmOptions options(nullptr, settings);
    options.show();
    ASSERT_NE(options.PageControl1, nullptr);
    ASSERT_EQ(options.PageControl1->count(), 3);
    const char* pages[] = {"options-output.png", "options-lame.png", "options-wma.png"};
    for (int page = 0; page < 3; ++page) {
      options.PageControl1->setCurrentIndex(page);
      SaveScreenshot(options, pages[page]);
    }
    options.hide();
  }
  {
    tags = TTagInfo{u"Morning Light",          u"The Quorvane Ensemble",
                    u"Field Recordings",       u"2024",
                    GenreIndex(u"Ambient"),    u"3",
                    u"Converted with Melvanto"};
    gui::TfrmTagEditor editor(nullptr, tags, settings);
    editor.show();
    SaveScreenshot(editor, "tag-editor.png");
    editor.hide();
  }
  {
    // Grabbed before any event runs: the first batch step is still queued and dies with
    // the window, so nothing is converted.
    const QString folder = QDir(MELVANTO_SCREENSHOT_DIR).filePath("no-such-input");
    gui::TfrmEncodeProgress progress(
        nullptr,
        {(folder + "/Morning Light.wav").toStdString(), (folder + "/Evening Rain.wav").toStdString()},
        settings, tags);
    progress.SetMode(TConversionMode::cmWavToMp3);
    SaveScreenshot(progress, "progress.png");
  }
  {
    // Files of two types dropped: the question with all four directions that fit.
    gui::TfrmDropDirection chooser(
        nullptr,
        "The files are of several types: 12 WAV files, 3 MP3 files. Only the chosen direction's files are "
        "converted; the others are left out.\n\nNot WAV, MP3 or WMA, left out: cover.jpg, notes.txt.",
        {TConversionMode::cmWavToMp3, TConversionMode::cmWavToWma, TConversionMode::cmMp3ToWav,
         TConversionMode::cmMp3ToWma},
        TConversionMode::cmWavToWma);
    chooser.show();
    SaveScreenshot(chooser, "drop-direction.png");
    chooser.hide();
  }
  {
    // Two files at once, the first of three done: the lines are filled in by hand and the
    // window grabbed before any queued step runs.
    const QString folder = QDir(MELVANTO_SCREENSHOT_DIR).filePath("no-such-input");
    TOptionsSetting two = settings;
    two.CommonOptions.ParallelFiles = 2;
    const std::vector<std::string> files = {(folder + "/Morning Light.wav").toStdString(),
                                            (folder + "/Evening Rain.wav").toStdString(),
                                            (folder + "/Harbour at Dusk.wav").toStdString()};
    gui::TfrmEncodeProgress progress(nullptr, files, two, tags);
    progress.SetMode(TConversionMode::cmWavToMp3);
    ASSERT_EQ(progress.Jobs(), 2u);
    progress.SetOutputFolder(two.CommonOptions.OutputFolder);
    progress.FileFinished(TFileResult{files[0], "Morning Light.mp3", TFileResult::frConverted, {}, {}}, 0);
    const char* running[][2] = {{"Harbour at Dusk.wav", "Harbour at Dusk.mp3"},
                                {"Evening Rain.wav", "Evening Rain.mp3"}};
    for (std::size_t job = 0; job < 2; ++job) {
      progress.SetInputFileName(running[job][0], job);
      progress.SetOutputFileName(running[job][1], job);
      progress.SetProgressCaption("Encoding...", job);
      progress.SetProgress(job == 0 ? 18 : 64, job);
    }
    progress.SetCompleted("2");
    SaveScreenshot(progress, "progress-two-at-once.png");
  }
  {
    const std::string folder = "/home/user/Music/Melvanto/";
    gui::TBatchOutcome all{
        3,
        {{folder + "Morning Light.wav", folder + "Morning Light.mp3", TFileResult::frConverted, {}, {}},
         {folder + "Evening Rain.wav", folder + "Evening Rain.mp3", TFileResult::frConverted, {}, {}},
         {folder + "Harbour at Dusk.wav", folder + "Harbour at Dusk.mp3", TFileResult::frConverted, {}, {}}},
        83000,
        QString::fromStdString(folder)};
    gui::TfrmBatchSummary converted(nullptr, all);
    converted.show();
    SaveScreenshot(converted, "summary-converted.png");
    converted.hide();

    gui::TBatchOutcome mixed = all;
    mixed.Results[1] = {folder + "Evening Rain.wav",
                        folder + "Evening Rain.mp3",
                        TFileResult::frFailed,
                        "not a valid WAV file",
                        {}};
    mixed.Results[2] = {folder + "Harbour at Dusk.wav",
                        folder + "Harbour at Dusk.mp3",
                        TFileResult::frSkipped,
                        "the output file exists and was kept",
                        {}};
    gui::TfrmBatchSummary troubled(nullptr, mixed);
    troubled.show();
    SaveScreenshot(troubled, "summary-failed-skipped.png");
    troubled.hide();
  }
  {
    gui::TfrmAbout about(nullptr);
    about.show();
    SaveScreenshot(about, "about.png");
    about.hide();
  }
  {
    ASSERT_TRUE(ApplyTheme(*qApp, "BlueGlass"));
    gui::TfrmMain main;
    main.show();
    SaveScreenshot(main, "main-blueglass.png");
    main.hide();
  }
  EXPECT_TRUE(dialogs.Messages.empty()) << "no window complained while being drawn";
  EXPECT_TRUE(dialogs.Executed.empty());
}

}  // namespace
}  // namespace melvanto::testing
