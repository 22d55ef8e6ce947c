#include "options_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "fake_dialogs.h"
#include "settings.h"
#include "temp_dir.h"
#include "wma_choice.h"
#include "wma_out.h"

namespace melvanto::testing {

using gui::TfrmOptions;

namespace {

bool operator==(const TOptionsSetting& a, const TOptionsSetting& b) {
  const auto& x = a.CommonOptions;
  const auto& y = b.CommonOptions;
  return x.OutputFolder == y.OutputFolder && x.OutputFormat == y.OutputFormat &&
         x.SameAsInputFolder == y.SameAsInputFolder && x.IsShowTagEditor == y.IsShowTagEditor &&
         x.IsSameTag == y.IsSameTag && x.ParallelFiles == y.ParallelFiles && a.IsSelectVBR == b.IsSelectVBR &&
         a.IsVBRHead == b.IsVBRHead && a.BitRate == b.BitRate && a.MaxBitRate == b.MaxBitRate &&
         a.VBRQuality == b.VBRQuality && a.StereoMode == b.StereoMode && a.CPU == b.CPU &&
         a.ConstantBitRate == b.ConstantBitRate && a.CodecIndex == b.CodecIndex &&
         a.FormatIndex == b.FormatIndex && a.VBR == b.VBR && a.BitReservoir == b.BitReservoir;
}

QStringList Items(const QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

QStringList Listed(const std::vector<std::string>& names) {
  QStringList items;
  for (const std::string& name : names) items << QString::fromStdString(name);
  return items;
}

// What an independent writer lists for a codec position under a VBR setting.
QStringList FormatsOf(int codec, bool vbr) {
  TWMAOut out;
  out.SetVBR(vbr);
  return Listed(out.Formats(codec));
}

int Selected(const QListWidget* list) {
  const auto selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.front());
}

}  // namespace

// Every test starts from known settings with an existing output folder and the WMA choice
// the main window makes before the dialog can open.
class OptionsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    // OK writes the settings file: into a folder of this test's own.
    ::setenv("XDG_CONFIG_HOME", Config.String().c_str(), 1);
    OptionsSetting.CommonOptions.OutputFolder = Folder.String();
    ChooseDefaultWMAFormat(ListWMACodecs(false), OptionsSetting);
  }
  void TearDown() override {
    SetProgramFolderForTesting("");
    ::setenv("XDG_CONFIG_HOME", OldConfig.c_str(), 1);
  }

  void ExpectNothingStored() const { EXPECT_TRUE(OptionsSetting == Before); }
  // Shown, on the WMA page: clicks then reach its lists and box.
  static void ShowWmaPage(TfrmOptions& dialog) {
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.PageControl1->setCurrentWidget(dialog.tsWma);
  }
  // Near the left edge: a box stretched by its layout reacts only on its indicator and text.
  static void Click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(8, button->height() / 2));
  }

  FakeDialogs Fake;
  const std::string OldConfig = ::getenv("XDG_CONFIG_HOME");
  TempDir Config;
  TempDir Folder;
  TOptionsSetting OptionsSetting;  // the main window's, which the dialog edits
  TOptionsSetting Before;
};

TEST_F(OptionsDialog, PagesControlsAndItems) {
  TfrmOptions dialog(nullptr, OptionsSetting);
  EXPECT_EQ(dialog.windowTitle(), "Options");
  EXPECT_EQ(dialog.size(), QSize(456, 312));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  ASSERT_EQ(dialog.PageControl1->count(), 3);
  EXPECT_EQ(dialog.PageControl1->tabText(0), "Output");
  EXPECT_EQ(dialog.PageControl1->tabText(1), "LAME");
  EXPECT_EQ(dialog.PageControl1->tabText(2), "WMA");
  EXPECT_EQ(dialog.PageControl1->currentWidget(), dialog.tsOutput);
  EXPECT_EQ(dialog.btOk->text(), "OK");
  EXPECT_EQ(dialog.btCancel->text(), "Cancel");
  EXPECT_EQ(dialog.btBrowser->text(), "Browse");
  EXPECT_EQ(dialog.cbShowTagEditor->text(), "Don't show Tag Editor dialog when converting");
  EXPECT_EQ(dialog.cbSameTag->text(), "Use the same ID3 Tag for the batch files");
  EXPECT_EQ(dialog.rbCBR->text(), "CBR (Constant Bit Rate)");
  EXPECT_EQ(dialog.rbVBR->text(), "VBR (Variable Bit Rate)");
  EXPECT_EQ(dialog.cbWMA_VBR->text(), "VBR (Variable Bit Rate)");
  EXPECT_EQ(dialog.bDefault->text(), "&Default");
  EXPECT_EQ(dialog.bWMADefault->text(), "&Default");

  EXPECT_EQ(Items(dialog.cbConstantBitRate),
            QStringList({"48", "56", "64", "80", "96", "128", "192", "256", "320"}));
  const QStringList vbrRates = {" 32 kbit/s", " 40 kbit/s", " 48 kbit/s", " 56 kbit/s", " 64 kbit/s",
                                " 80 kbit/s", " 96 kbit/s", "112 kbit/s", "128 kbit/s", "160 kbit/s",
                                "192 kbit/s", "224 kbit/s", "256 kbit/s", "320 kbit/s"};
  EXPECT_EQ(Items(dialog.cbMinBitRate), vbrRates);
  EXPECT_EQ(Items(dialog.cbMaxBitRate), vbrRates);
  EXPECT_EQ(Items(dialog.cbVBRQuality), QStringList({"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}));
  EXPECT_EQ(Items(dialog.cbStereoMode), QStringList({"Stereo", "Joint Stereo", "Dual Channels", "Mono"}));
  EXPECT_FALSE(dialog.cbConstantBitRate->isEditable());
  EXPECT_TRUE(dialog.cbMinBitRate->isEditable());
  EXPECT_TRUE(dialog.cbMaxBitRate->isEditable());
  EXPECT_TRUE(dialog.cbVBRQuality->isEditable());
  EXPECT_TRUE(dialog.cbStereoMode->isEditable());
  EXPECT_EQ(dialog.tbMP3Cpu->minimum(), 1);
  EXPECT_EQ(dialog.tbMP3Cpu->maximum(), 3);
  EXPECT_EQ(Items(dialog.lbCodecs), Listed(TWMAOut().Codecs()));

  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  dialog.PageControl1->setCurrentWidget(dialog.tsLame);
  EXPECT_TRUE(dialog.cbMinBitRate->isVisible());
  EXPECT_FALSE(dialog.ckbVBRHead->isVisible());
}

TEST_F(OptionsDialog, LoadsTypicalSettings) {
  auto& s = OptionsSetting;
  s.CommonOptions.IsShowTagEditor = false;
  s.CommonOptions.IsSameTag = true;
  s.IsSelectVBR = true;
  s.IsVBRHead = true;
  s.BitRate = 64;
  s.MaxBitRate = 256;
  s.VBRQuality = 2;
  s.StereoMode = 3;
  s.CPU = 2;
  s.ConstantBitRate = 7;
  s.CodecIndex = 1;
  s.FormatIndex = 4;
  TfrmOptions dialog(nullptr, OptionsSetting);
  EXPECT_EQ(dialog.editOutputDir->text().toStdString(), Folder.String());
  EXPECT_FALSE(dialog.cbSameAsInputFolder->isChecked());
  EXPECT_TRUE(dialog.cbShowTagEditor->isChecked());
  EXPECT_TRUE(dialog.cbSameTag->isChecked());
  EXPECT_TRUE(dialog.rbVBR->isChecked());
  EXPECT_FALSE(dialog.rbCBR->isChecked());
  EXPECT_TRUE(dialog.ckbVBRHead->isChecked());
  EXPECT_EQ(dialog.cbMinBitRate->currentText(), "64 kbit/s");
  EXPECT_EQ(dialog.cbMaxBitRate->currentText(), "256 kbit/s");
  EXPECT_EQ(dialog.cbVBRQuality->currentIndex(), 2);
  EXPECT_EQ(dialog.cbStereoMode->currentText(), "Mono");
  EXPECT_EQ(dialog.tbMP3Cpu->value(), 2);
  EXPECT_EQ(dialog.cbConstantBitRate->currentText(), "256");
  EXPECT_FALSE(dialog.cbWMA_VBR->isChecked());
  EXPECT_EQ(Selected(dialog.lbCodecs), 1);
  EXPECT_EQ(Items(dialog.lbFormats), FormatsOf(1, false));
  EXPECT_EQ(Selected(dialog.lbFormats), 4);

  // OK gives back what was loaded.
  Before = OptionsSetting;
  EXPECT_TRUE(dialog.btOkClick());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(OptionsSetting == Before);
  EXPECT_TRUE(Fake.Messages.empty());
}

TEST_F(OptionsDialog, PositionsOutOfRangeSelectNothingAndStoreMinusOne) {
  for (int codec : {-1, 5}) {
    SCOPED_TRACE(codec);
    OptionsSetting.CodecIndex = codec;
    OptionsSetting.FormatIndex = 3;
    OptionsSetting.VBRQuality = 12;
    OptionsSetting.StereoMode = -1;
    OptionsSetting.ConstantBitRate = 9;
    TfrmOptions dialog(nullptr, OptionsSetting);
    EXPECT_EQ(Selected(dialog.lbCodecs), -1);
    EXPECT_EQ(dialog.lbFormats->count(), 0);
    EXPECT_EQ(dialog.cbVBRQuality->currentIndex(), -1);
    EXPECT_EQ(dialog.cbStereoMode->currentIndex(), -1);
    EXPECT_EQ(dialog.cbConstantBitRate->currentIndex(), -1);
    // No codec chosen: no WMA could be written, so OK asks for one first.
    EXPECT_FALSE(dialog.btOkClick());
    dialog.lbCodecs->setCurrentRow(0);
    ASSERT_TRUE(dialog.btOkClick());
    EXPECT_EQ(OptionsSetting.CodecIndex, 0);
    EXPECT_EQ(OptionsSetting.FormatIndex, 0);
    EXPECT_EQ(OptionsSetting.VBRQuality, -1);
    EXPECT_EQ(OptionsSetting.StereoMode, -1);
    EXPECT_EQ(OptionsSetting.ConstantBitRate, -1);
  }
}

// OK never stores a WMA choice that cannot convert: it says why, shows the WMA page and
// stores nothing at all.
TEST_F(OptionsDialog, OkRefusesWithoutAWmaCodecAndFormat) {
  const int past = static_cast<int>(FormatsOf(0, false).size());
  for (const auto& [codec, format] :
       {std::pair{-1, 0}, std::pair{7, 0}, std::pair{0, -1}, std::pair{0, past}}) {
    SCOPED_TRACE(::testing::Message() << codec << "/" << format);
    OptionsSetting.CodecIndex = codec;
    OptionsSetting.FormatIndex = format;
    OptionsSetting.ConstantBitRate = 2;
    Before = OptionsSetting;
    Fake.Messages.clear();
    TfrmOptions dialog(nullptr, OptionsSetting);
    dialog.cbConstantBitRate->setCurrentIndex(7);
    EXPECT_FALSE(dialog.btOkClick());
    ExpectNothingStored();
    ASSERT_EQ(Fake.Messages.size(), 1u);
    EXPECT_TRUE(Fake.Messages[0].Text.contains("WMA codec and format"));
    EXPECT_EQ(dialog.PageControl1->currentWidget(), dialog.tsWma);
  }
}

TEST_F(OptionsDialog, BitRateTexts) {
  struct Case {
    QString Min, Max;
    int MinKbps, MaxKbps;
  };
  const Case cases[] = {
      {"64 kbit/s", "320 kbit/s", 64, 320},   // as loaded from 64
      {" 96 kbit/s", "112 kbit/s", 96, 112},  // the items themselves
      {"96 x", "128zzz", 96, 128},            // only the first three characters count
      {"\t64\n", "  8", 64, 8},               // spaces and control characters trimmed
      {"-5", "+7 kbit/s", -5, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Min.toStdString());
    TfrmOptions dialog(nullptr, OptionsSetting);
    dialog.cbMinBitRate->setEditText(c.Min);
    dialog.cbMaxBitRate->setEditText(c.Max);
    ASSERT_TRUE(dialog.btOkClick());
    EXPECT_EQ(OptionsSetting.BitRate, c.MinKbps);
    EXPECT_EQ(OptionsSetting.MaxBitRate, c.MaxKbps);
  }
  EXPECT_TRUE(Fake.Messages.empty());
}

TEST_F(OptionsDialog, BitRateThatIsNoNumberFailsAndStoresNothing) {
  struct Case {
    QString Min, Max, Shown;
  };
  const Case cases[] = {
      {"96x", "320 kbit/s", "96x"},
      {"128 kbit/s", " 9a kbit/s", "9a"},
      {"", "320 kbit/s", ""},
      {"abc", "def", "abc"},  // the first failure is the one told
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Min.toStdString() + " / " + c.Max.toStdString());
    Fake.Messages.clear();
    Before = OptionsSetting;
    TfrmOptions dialog(nullptr, OptionsSetting);
    // Changes before and after the bit rates in the storing order: none may land.
    dialog.cbSameTag->setChecked(true);
    dialog.cbShowTagEditor->setChecked(true);
    dialog.rbVBR->setChecked(true);
    dialog.tbMP3Cpu->setValue(1);
    dialog.cbWMA_VBR->setChecked(true);
    dialog.cbMinBitRate->setEditText(c.Min);
    dialog.cbMaxBitRate->setEditText(c.Max);
    EXPECT_FALSE(dialog.btOkClick());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(Fake.Messages.size(), 1u);
    EXPECT_EQ(Fake.Messages[0].Caption, "Melvanto");
    EXPECT_EQ(Fake.Messages[0].Text, "'" + c.Shown + "' is not a valid integer value");
    EXPECT_EQ(Fake.Messages[0].Icon, QMessageBox::Critical);
    ExpectNothingStored();
  }
}

TEST_F(OptionsDialog, FailedOkLeavesTheShownDialogOpen) {
  TfrmOptions dialog(nullptr, OptionsSetting);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  dialog.cbMaxBitRate->setEditText("x");
  Click(dialog.btOk);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(Fake.Messages.size(), 1u);
  // Mended, the same click closes it.
  dialog.cbMaxBitRate->setEditText("256 kbit/s");
  Click(dialog.btOk);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(OptionsSetting.MaxBitRate, 256);
}

TEST_F(OptionsDialog, SameAsInputFolderDisablesTheFolderAndSkipsItsCheck) {
  OptionsSetting.CommonOptions.SameAsInputFolder = true;
  OptionsSetting.CommonOptions.OutputFolder = (Folder / "missing").string();
  TfrmOptions dialog(nullptr, OptionsSetting);
  EXPECT_FALSE(dialog.editOutputDir->isEnabled());
  EXPECT_FALSE(dialog.btBrowser->isEnabled());
  dialog.editOutputDir->setText("nowhere/at all");
  EXPECT_TRUE(dialog.btOkClick());
  EXPECT_TRUE(Fake.Messages.empty());
  EXPECT_TRUE(OptionsSetting.CommonOptions.SameAsInputFolder);
  EXPECT_EQ(OptionsSetting.CommonOptions.OutputFolder, "nowhere/at all");
}

TEST_F(OptionsDialog, SameAsInputFolderBoxSwitchesTheFolderControls) {
  TfrmOptions dialog(nullptr, OptionsSetting);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_TRUE(dialog.editOutputDir->isEnabled());
  Click(dialog.cbSameAsInputFolder);
  EXPECT_FALSE(dialog.editOutputDir->isEnabled());
  EXPECT_FALSE(dialog.btBrowser->isEnabled());
  Click(dialog.cbSameTag);  // same reaction, and it leaves them as the folder box says
  EXPECT_FALSE(dialog.editOutputDir->isEnabled());
  Click(dialog.cbSameAsInputFolder);
  EXPECT_TRUE(dialog.editOutputDir->isEnabled());
  EXPECT_TRUE(dialog.btBrowser->isEnabled());
}

TEST_F(OptionsDialog, MissingFolderIsToldAndNothingStored) {
  for (const QString& text : {QString(), (QString::fromStdString(Folder.String()) + "/missing")}) {
    SCOPED_TRACE(text.toStdString());
    Fake.Messages.clear();
    Before = OptionsSetting;
    TfrmOptions dialog(nullptr, OptionsSetting);
    dialog.editOutputDir->setText(text);
    dialog.cbSameTag->setChecked(true);
    dialog.cbMinBitRate->setEditText("64 kbit/s");
    EXPECT_FALSE(dialog.btOkClick());
    ASSERT_EQ(Fake.Messages.size(), 1u);
    EXPECT_EQ(Fake.Messages[0].Caption, "Melvanto");
    EXPECT_EQ(Fake.Messages[0].Text, text + ", the output folder does not exist.");
    EXPECT_EQ(Fake.Messages[0].Icon, QMessageBox::Critical);
    ExpectNothingStored();
  }
}

TEST_F(OptionsDialog, MissingFolderTakesTheFocusOnlyOnTheOutputPage) {
  TfrmOptions dialog(nullptr, OptionsSetting);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  dialog.editOutputDir->setText("");
  dialog.cbSameTag->setFocus();
  EXPECT_FALSE(dialog.btOkClick());
  EXPECT_EQ(dialog.focusWidget(), dialog.editOutputDir);

  dialog.PageControl1->setCurrentWidget(dialog.tsLame);
  dialog.rbVBR->setChecked(true);
  dialog.cbMinBitRate->setFocus();
  EXPECT_FALSE(dialog.btOkClick());
  EXPECT_NE(dialog.focusWidget(), dialog.editOutputDir);
  EXPECT_TRUE(dialog.isVisible());
}

TEST_F(OptionsDialog, FolderIsStoredExactlyAsTyped) {
  std::filesystem::create_directory(Folder / "out");
  for (const std::string& typed : {Folder.String() + "/out", Folder.String() + "/out/"}) {
    TfrmOptions dialog(nullptr, OptionsSetting);
    dialog.editOutputDir->setText(QString::fromStdString(typed));
    ASSERT_TRUE(dialog.btOkClick());
    EXPECT_EQ(OptionsSetting.CommonOptions.OutputFolder, typed);
  }
}

TEST_F(OptionsDialog, VBRRadioSwitchesTheFourVBRControls) {
  TfrmOptions dialog(nullptr, OptionsSetting);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  dialog.PageControl1->setCurrentWidget(dialog.tsLame);
  const QWidget* vbrControls[] = {dialog.ckbVBRHead, dialog.cbMinBitRate, dialog.cbMaxBitRate,
                                  dialog.cbVBRQuality};
  EXPECT_TRUE(dialog.rbCBR->isChecked());
  for (const QWidget* w : vbrControls) EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_TRUE(dialog.cbConstantBitRate->isEnabled());

  Click(dialog.rbVBR);
  EXPECT_FALSE(dialog.rbCBR->isChecked());
  for (const QWidget* w : vbrControls) EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_TRUE(dialog.cbConstantBitRate->isEnabled());

  Click(dialog.rbCBR);
  EXPECT_FALSE(dialog.rbVBR->isChecked());
  for (const QWidget* w : vbrControls) EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_TRUE(dialog.cbConstantBitRate->isEnabled());

  ASSERT_TRUE(dialog.btOkClick());
  EXPECT_FALSE(OptionsSetting.IsSelectVBR);
}

TEST_F(OptionsDialog, VBRSettingOpensEnabled) {
  OptionsSetting.IsSelectVBR = true;
  TfrmOptions dialog(nullptr, OptionsSetting);
  EXPECT_TRUE(dialog.cbMinBitRate->isEnabled());
  EXPECT_TRUE(dialog.ckbVBRHead->isEnabled());
}

TEST_F(OptionsDialog, BitReservoirBoxShowsAndStoresTheSetting_DefaultTurnsItOn) {
  for (const bool stored : {true, false}) {
    SCOPED_TRACE(stored);
    OptionsSetting.BitReservoir = stored;
    TfrmOptions dialog(nullptr, OptionsSetting);
    EXPECT_EQ(dialog.ckbBitReservoir->text(), "Bit reservoir");
    EXPECT_EQ(dialog.ckbBitReservoir->isChecked(), stored);
    dialog.ckbBitReservoir->setChecked(!stored);
    ASSERT_TRUE(dialog.btOkClick());
    EXPECT_EQ(OptionsSetting.BitReservoir, !stored);
  }
  OptionsSetting.BitReservoir = false;
  TfrmOptions dialog(nullptr, OptionsSetting);
  ASSERT_FALSE(dialog.ckbBitReservoir->isChecked());
  Click(dialog.bDefault);
  EXPECT_TRUE(dialog.ckbBitReservoir->isChecked());
}

TEST_F(OptionsDialog, LameDefaultSetsThePageAndCancelStoresNothing) {
  auto& s = OptionsSetting;
  s.IsSelectVBR = true;
  s.IsVBRHead = true;
  s.BitRate = 40;
  s.MaxBitRate = 160;
  s.VBRQuality = 9;
  s.StereoMode = 0;
  s.CPU = 1;
  s.ConstantBitRate = 0;
  Before = s;
  TfrmOptions dialog(nullptr, OptionsSetting);
  Click(dialog.bDefault);
  EXPECT_TRUE(dialog.rbCBR->isChecked());
  EXPECT_FALSE(dialog.cbMinBitRate->isEnabled());
  EXPECT_EQ(dialog.cbConstantBitRate->currentText(), "128");
  EXPECT_FALSE(dialog.ckbVBRHead->isChecked());
  EXPECT_EQ(dialog.cbMinBitRate->currentText(), "128 kbit/s");
  EXPECT_EQ(dialog.cbMaxBitRate->currentText(), "320 kbit/s");
  EXPECT_EQ(dialog.cbVBRQuality->currentText(), "4");
  EXPECT_EQ(dialog.cbStereoMode->currentText(), "Joint Stereo");
  EXPECT_EQ(dialog.tbMP3Cpu->value(), 3);
  Click(dialog.btCancel);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ExpectNothingStored();

  // Stored, they are the settings file's defaults.
  TfrmOptions again(nullptr, OptionsSetting);
  Click(again.bDefault);
  ASSERT_TRUE(again.btOkClick());
  const TOptionsSetting defaults;
  EXPECT_EQ(s.IsSelectVBR, defaults.IsSelectVBR);
  EXPECT_EQ(s.IsVBRHead, defaults.IsVBRHead);
  EXPECT_EQ(s.BitRate, defaults.BitRate);
  EXPECT_EQ(s.MaxBitRate, defaults.MaxBitRate);
  EXPECT_EQ(s.VBRQuality, defaults.VBRQuality);
  EXPECT_EQ(s.StereoMode, defaults.StereoMode);
  EXPECT_EQ(s.CPU, defaults.CPU);
  EXPECT_EQ(s.ConstantBitRate, defaults.ConstantBitRate);
}

TEST_F(OptionsDialog, WmaDefaultGivesCodecZeroTheCbrListAndPosition29) {
  const QStringList cbr = FormatsOf(0, false);
  const int expected = cbr.size() > 29 ? 29 : -1;
  for (bool vbr : {false, true}) {
    SCOPED_TRACE(vbr);
    OptionsSetting.VBR = vbr;
    OptionsSetting.CodecIndex = 1;
    OptionsSetting.FormatIndex = 0;
    Before = OptionsSetting;
    TfrmOptions dialog(nullptr, OptionsSetting);
    Click(dialog.bWMADefault);
    EXPECT_FALSE(dialog.cbWMA_VBR->isChecked());
    EXPECT_FALSE(dialog.WMAVBR());
    EXPECT_EQ(Selected(dialog.lbCodecs), 0);
    EXPECT_EQ(Items(dialog.lbFormats), cbr);
    EXPECT_EQ(Selected(dialog.lbFormats), expected);
    Click(dialog.btCancel);
    ExpectNothingStored();
  }
  TfrmOptions dialog(nullptr, OptionsSetting);
  Click(dialog.bWMADefault);
  ASSERT_EQ(dialog.btOkClick(), expected >= 0);  // no 30th format: no choice to store
  EXPECT_EQ(OptionsSetting.CodecIndex, expected >= 0 ? 0 : 1);
  EXPECT_EQ(OptionsSetting.FormatIndex, expected >= 0 ? expected : 0);
  EXPECT_FALSE(OptionsSetting.VBR);
}

// The WMA codecs here have no VBR formats: a stored VBR choice (which an older OK kept)
// opens as CBR with no format chosen, and OK will not keep it.
TEST_F(OptionsDialog, WmaVbrSettingWithoutVbrFormatsOpensAsCbrAndIsNotKept) {
  ASSERT_TRUE(FormatsOf(0, true).empty());
  OptionsSetting.VBR = true;
  OptionsSetting.CodecIndex = 0;
  OptionsSetting.FormatIndex = 1;
  TfrmOptions dialog(nullptr, OptionsSetting);
  EXPECT_FALSE(dialog.cbWMA_VBR->isChecked());
  EXPECT_FALSE(dialog.cbWMA_VBR->isEnabled());
  EXPECT_FALSE(dialog.WMAVBR());
  EXPECT_EQ(Selected(dialog.lbCodecs), 0);
  EXPECT_EQ(Items(dialog.lbFormats), FormatsOf(0, false));
  EXPECT_EQ(Selected(dialog.lbFormats), -1);
  EXPECT_FALSE(dialog.btOkClick());
  EXPECT_TRUE(OptionsSetting.VBR);

  dialog.lbFormats->setCurrentRow(27);
  ASSERT_TRUE(dialog.btOkClick());
  EXPECT_FALSE(OptionsSetting.VBR);
  EXPECT_EQ(OptionsSetting.FormatIndex, 27);
}

// VBR is offered for a codec only where it has VBR formats; where it has none the box says why.
TEST_F(OptionsDialog, WmaVbrBoxFollowsTheCodecsVbrFormats) {
  TfrmOptions dialog(nullptr, OptionsSetting);
  ASSERT_GE(dialog.lbCodecs->count(), 2);
  for (int codec = 0; codec < dialog.lbCodecs->count(); ++codec) {
    SCOPED_TRACE(codec);
    dialog.lbCodecs->setCurrentRow(codec);
    const bool offered = !FormatsOf(codec, true).empty();
    EXPECT_EQ(dialog.cbWMA_VBR->isEnabled(), offered);
    EXPECT_EQ(dialog.cbWMA_VBR->toolTip().contains("no VBR formats"), !offered);
  }
}

// Unticking VBR brings back the CBR format chosen before, not the list's first.
TEST_F(OptionsDialog, WmaVbrUntickBringsBackTheCbrFormat) {
  OptionsSetting.CodecIndex = 0;
  OptionsSetting.FormatIndex = 27;
  TfrmOptions dialog(nullptr, OptionsSetting);
  ShowWmaPage(dialog);
  dialog.cbWMA_VBR->setEnabled(true);  // as on a system whose codec has VBR formats
  Click(dialog.cbWMA_VBR);
  ASSERT_TRUE(dialog.WMAVBR());
  EXPECT_EQ(Items(dialog.lbFormats), FormatsOf(0, true));
  Click(dialog.cbWMA_VBR);
  ASSERT_FALSE(dialog.WMAVBR());
  EXPECT_EQ(Items(dialog.lbFormats), FormatsOf(0, false));
  EXPECT_EQ(Selected(dialog.lbFormats), 27);
  ASSERT_TRUE(dialog.btOkClick());
  EXPECT_EQ(OptionsSetting.FormatIndex, 27);
  EXPECT_FALSE(OptionsSetting.VBR);
}

TEST_F(OptionsDialog, CodecAndVbrClicksRefillTheFormats) {
  OptionsSetting.CodecIndex = 0;
  OptionsSetting.FormatIndex = 5;
  TfrmOptions dialog(nullptr, OptionsSetting);
  ShowWmaPage(dialog);
  ASSERT_GE(dialog.lbCodecs->count(), 2);
  ASSERT_EQ(Selected(dialog.lbFormats), 5);

  const QRect second = dialog.lbCodecs->visualItemRect(dialog.lbCodecs->item(1));
  QTest::mouseClick(dialog.lbCodecs->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
  EXPECT_EQ(Selected(dialog.lbCodecs), 1);
  EXPECT_EQ(Items(dialog.lbFormats), FormatsOf(1, false));
  EXPECT_EQ(Selected(dialog.lbFormats), dialog.lbFormats->count() > 0 ? 0 : -1);

  // No VBR formats for this codec here: the box is off and a click changes nothing.
  ASSERT_TRUE(FormatsOf(1, true).empty());
  Click(dialog.cbWMA_VBR);
  EXPECT_FALSE(dialog.WMAVBR());
  EXPECT_FALSE(dialog.cbWMA_VBR->isChecked());
  EXPECT_EQ(Items(dialog.lbFormats), FormatsOf(1, false));
  dialog.lbFormats->setCurrentRow(3);
  ASSERT_TRUE(dialog.btOkClick());
  EXPECT_EQ(OptionsSetting.CodecIndex, 1);
  EXPECT_EQ(OptionsSetting.FormatIndex, 3);
  EXPECT_FALSE(OptionsSetting.VBR);
}

// Like the window system's single-choice lists, a chosen codec or format cannot be unchosen by
// a Ctrl+click (or Ctrl+Space): OK would store no codec, or no format, for the chosen codec.
TEST_F(OptionsDialog, CodecAndFormatCannotBeUnchosen) {
  OptionsSetting.CodecIndex = 0;
  OptionsSetting.FormatIndex = 2;
  TfrmOptions dialog(nullptr, OptionsSetting);
  ShowWmaPage(dialog);
  ASSERT_GE(dialog.lbFormats->count(), 3);
  for (QListWidget* list : {dialog.lbCodecs, dialog.lbFormats}) {
    SCOPED_TRACE(list->objectName().toStdString());
    const int chosen = Selected(list);
    const QRect item = list->visualItemRect(list->item(chosen));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, item.center());
    EXPECT_EQ(Selected(list), chosen);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(Selected(list), chosen);
  }
  ASSERT_TRUE(dialog.btOkClick());
  EXPECT_EQ(OptionsSetting.CodecIndex, 0);
  EXPECT_EQ(OptionsSetting.FormatIndex, 2);
}

TEST_F(OptionsDialog, BrowseStartsAtTheOutputFolderAndTakesThePick) {
  TempDir program;
  SetProgramFolderForTesting(program.String() + "/");
  TfrmOptions dialog(nullptr, OptionsSetting);
  const QString before = dialog.editOutputDir->text();

  Click(dialog.btBrowser);  // cancelled: nothing changes
  ASSERT_EQ(Fake.PickerCaptions.size(), 1u);
  EXPECT_EQ(Fake.PickerCaptions[0], "Please select the folder to save the audio file");
  EXPECT_TRUE(Fake.PickerRoots[0].isEmpty());
  EXPECT_EQ(Fake.PickerStarts[0].toStdString(), Folder.String()) << "not the program's folder";
  EXPECT_EQ(dialog.editOutputDir->text(), before);

  Fake.FolderToPick = QString::fromStdString((Folder / "picked").string());
  Click(dialog.btBrowser);
  EXPECT_EQ(dialog.editOutputDir->text(), Fake.FolderToPick);
  EXPECT_TRUE(OptionsSetting.CommonOptions.OutputFolder == Folder.String());  // not stored yet
}

TEST_F(OptionsDialog, BrowseFromAMissingProgramFolderStartsNowhere) {
  SetProgramFolderForTesting((Folder / "gone").string() + "/");
  OptionsSetting.CommonOptions.OutputFolder.clear();
  TfrmOptions dialog(nullptr, OptionsSetting);
  dialog.btBrowserClick();
  ASSERT_EQ(Fake.PickerStarts.size(), 1u);
  EXPECT_TRUE(Fake.PickerStarts[0].isEmpty());
}

// The folder shown, as typed, even before OK; a folder not made yet starts at the nearest one
// above it that exists, and with none the picker starts nowhere (never the program's folder).
TEST_F(OptionsDialog, BrowseStartsAtTheFolderShownOrTheNearestOneAbove) {
  TempDir program;
  SetProgramFolderForTesting(program.String() + "/");
  std::filesystem::create_directory(Folder / "typed");
  TfrmOptions dialog(nullptr, OptionsSetting);
  const std::pair<std::string, std::string> cases[] = {
      {(Folder / "typed").string(), (Folder / "typed").string()},
      {(Folder / "not" / "made" / "yet").string(), Folder.String()},
      {"", ""},
      {"relative/missing", ""},
  };
  for (const auto& [shown, start] : cases) {
    SCOPED_TRACE(shown);
    dialog.editOutputDir->setText(QString::fromStdString(shown));
    dialog.btBrowserClick();
    EXPECT_EQ(Fake.PickerStarts.back().toStdString(), start);
  }
}

TEST_F(OptionsDialog, CancelAfterChangesStoresNothing) {
  Before = OptionsSetting;
  TfrmOptions dialog(nullptr, OptionsSetting);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  Click(dialog.cbSameAsInputFolder);
  Click(dialog.cbShowTagEditor);
  Click(dialog.cbSameTag);
  dialog.editOutputDir->setText("elsewhere");
  dialog.PageControl1->setCurrentWidget(dialog.tsLame);
  Click(dialog.rbVBR);
  dialog.cbMinBitRate->setEditText("32 kbit/s");
  dialog.cbConstantBitRate->setCurrentIndex(0);
  dialog.tbMP3Cpu->setValue(1);
  dialog.PageControl1->setCurrentWidget(dialog.tsWma);
  Click(dialog.bWMADefault);
  ASSERT_TRUE(dialog.cbSameAsInputFolder->isChecked());
  ASSERT_TRUE(dialog.rbVBR->isChecked());
  Click(dialog.btCancel);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ExpectNothingStored();
}

TEST_F(OptionsDialog, OkStoresEveryControl) {
  std::filesystem::create_directory(Folder / "new");
  OptionsSetting.CodecIndex = 0;
  TfrmOptions dialog(nullptr, OptionsSetting);
  dialog.editOutputDir->setText(QString::fromStdString((Folder / "new").string()));
  dialog.cbShowTagEditor->setChecked(true);
  dialog.cbSameTag->setChecked(true);
  dialog.rbVBR->setChecked(true);
  dialog.ckbVBRHead->setChecked(true);
  dialog.cbMinBitRate->setCurrentIndex(1);
  dialog.cbMaxBitRate->setCurrentIndex(12);
  dialog.cbVBRQuality->setCurrentIndex(7);
  dialog.cbStereoMode->setCurrentIndex(2);
  dialog.tbMP3Cpu->setValue(2);
  dialog.cbConstantBitRate->setCurrentIndex(8);
  dialog.lbFormats->setCurrentRow(10);
  ASSERT_TRUE(dialog.btOkClick());
  const auto& s = OptionsSetting;
  EXPECT_EQ(s.CommonOptions.OutputFolder, (Folder / "new").string());
  EXPECT_FALSE(s.CommonOptions.SameAsInputFolder);
  EXPECT_FALSE(s.CommonOptions.IsShowTagEditor);
  EXPECT_TRUE(s.CommonOptions.IsSameTag);
  EXPECT_TRUE(s.IsSelectVBR);
  EXPECT_TRUE(s.IsVBRHead);
  EXPECT_EQ(s.BitRate, 40);
  EXPECT_EQ(s.MaxBitRate, 256);
  EXPECT_EQ(s.VBRQuality, 7);
  EXPECT_EQ(s.StereoMode, 2);
  EXPECT_EQ(s.CPU, 2);
  EXPECT_EQ(s.ConstantBitRate, 8);
  EXPECT_EQ(s.CodecIndex, 0);
  EXPECT_EQ(s.FormatIndex, 10);
  EXPECT_FALSE(s.VBR);
}

// OK writes the file at once (a kill before the program closes keeps the choice); Cancel and a
// refused OK write nothing.
TEST_F(OptionsDialog, OkWritesTheSettingsFileAtOnce) {
  const std::filesystem::path file = SettingsFilePath();
  {
    TfrmOptions dialog(nullptr, OptionsSetting);
    dialog.cbConstantBitRate->setCurrentIndex(8);
    Click(dialog.btCancel);
    dialog.editOutputDir->setText(QString::fromStdString((Folder / "missing").string()));
    EXPECT_FALSE(dialog.btOkClick());
    EXPECT_FALSE(std::filesystem::exists(file));
  }
  Fake.Messages.clear();
  TfrmOptions dialog(nullptr, OptionsSetting);
  dialog.cbConstantBitRate->setCurrentIndex(8);
  dialog.ckbBitReservoir->setChecked(false);
  dialog.lbFormats->setCurrentRow(31);
  ASSERT_TRUE(dialog.btOkClick());
  EXPECT_TRUE(Fake.Messages.empty());
  TOptionsSetting read;
  ASSERT_TRUE(LoadSettings(read));
  EXPECT_TRUE(read == OptionsSetting);
  EXPECT_EQ(read.ConstantBitRate, 8);
  EXPECT_FALSE(read.BitReservoir);
  EXPECT_EQ(read.FormatIndex, 31);
}

// The count of files converted at once: shown as stored, a count no window could run
// opens clamped, and OK writes what the box shows to options.ini, which reads it back.
TEST_F(OptionsDialog, FilesAtOnceBoxLoadsClampedAndOkSavesIt) {
  const struct {
    std::int32_t stored, shown;
  } cases[] = {{1, 1}, {3, 3}, {0, 1}, {-5, 1}, {kMaxParallelFiles + 1, kMaxParallelFiles}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    OptionsSetting.CommonOptions.ParallelFiles = c.stored;
    TfrmOptions dialog(nullptr, OptionsSetting);
    EXPECT_EQ(dialog.seParallelFiles->value(), c.shown);
    ASSERT_TRUE(dialog.btOkClick());
    EXPECT_EQ(OptionsSetting.CommonOptions.ParallelFiles, c.shown);
  }
  TfrmOptions dialog(nullptr, OptionsSetting);
  EXPECT_EQ(dialog.seParallelFiles->parentWidget(), dialog.tsOutput) << "on the Output page";
  dialog.seParallelFiles->setValue(2);
  // The LAME page's processor setting is another thing and stays as it was.
  const std::int32_t cpu = OptionsSetting.CPU;
  ASSERT_TRUE(dialog.btOkClick());
  EXPECT_EQ(OptionsSetting.CPU, cpu);
  TOptionsSetting read;
  ASSERT_TRUE(LoadSettings(read));
  EXPECT_EQ(read.CommonOptions.ParallelFiles, 2);
}

TEST_F(OptionsDialog, SettingsFileThatCannotBeWrittenIsReported_TheChoiceStillHolds) {
  // A folder in the file's place: the new file cannot replace it.
  std::filesystem::create_directories(std::filesystem::path(SettingsFilePath()) / "blocker");
  TfrmOptions dialog(nullptr, OptionsSetting);
  dialog.cbConstantBitRate->setCurrentIndex(1);
  ASSERT_TRUE(dialog.btOkClick());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(OptionsSetting.ConstantBitRate, 1);
  ASSERT_EQ(Fake.Messages.size(), 1u);
  EXPECT_EQ(Fake.Messages[0].Icon, QMessageBox::Warning);
  EXPECT_TRUE(Fake.Messages[0].Text.contains("could not be saved")) << Fake.Messages[0].Text.toStdString();
}

TEST_F(OptionsDialog, TypedTextInThePositionBoxesNamesAnItemOrNone) {
  TfrmOptions dialog(nullptr, OptionsSetting);
  dialog.cbStereoMode->setEditText("Mono");
  dialog.cbVBRQuality->setEditText("fast");
  ASSERT_TRUE(dialog.btOkClick());
  EXPECT_EQ(OptionsSetting.StereoMode, 3);
  EXPECT_EQ(OptionsSetting.VBRQuality, -1);
}

}  // namespace melvanto::testing
