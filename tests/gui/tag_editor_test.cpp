#include "tag_editor.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "fake_dialogs.h"
#include "id3.h"
#include "settings.h"

namespace melvanto::testing {

using gui::TfrmTagEditor;

// Every test starts from a cleared batch and the default setting: the main window's records,
// which the editor edits.
class TagEditor : public ::testing::Test {
 protected:
  static void Start(TfrmTagEditor& editor) { QTest::mouseClick(editor.btOk, Qt::LeftButton); }

  FakeDialogs Fake;
  TTagInfo TagInfo;
  TOptionsSetting OptionsSetting;
};

TEST_F(TagEditor, WindowControlsCaptionsAndLimits) {
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  EXPECT_EQ(editor.windowTitle(), "Tag Editor");
  // A fixed size, as wide as the fields need: wider than it once was.
  EXPECT_GE(editor.width(), 433);
  EXPECT_EQ(editor.minimumSize(), editor.maximumSize());
  EXPECT_EQ(editor.GroupBox1->title(), "ID3 Tag");
  EXPECT_EQ(editor.lTitle->text(), "Title:");
  EXPECT_EQ(editor.cbShowTagEditor->text(), "Don't show this dialog next time");
  EXPECT_EQ(editor.btOk->text(), "&Start");
  EXPECT_EQ(editor.btCancel->text(), "&Cancel");
  EXPECT_TRUE(editor.btOk->isDefault());

  // The text fields hold any length; a year may be a full date, a track "12/15".
  for (const QLineEdit* edit : {editor.ID3title, editor.ID3artist, editor.ID3album, editor.ID3comment})
    EXPECT_GE(edit->maxLength(), 1000) << edit->objectName().toStdString();
  EXPECT_EQ(editor.ID3year->maxLength(), 10);
  EXPECT_EQ(editor.ID3track->maxLength(), 7);

  // The genres as the list has them, empty entry first; no free text.
  EXPECT_FALSE(editor.ID3genre->isEditable());
  ASSERT_EQ(editor.ID3genre->count(), 149);
  for (int i = 0; i < 149; ++i)
    EXPECT_EQ(editor.ID3genre->itemText(i).toStdString(), kDisplayGenres[static_cast<std::size_t>(i)]) << i;
  EXPECT_TRUE(editor.ID3genre->itemText(0).isEmpty());

  // Each control is found by its name (the style sheet and the main window rely on it).
  for (const char* name : {"ID3title", "ID3artist", "ID3album", "ID3year", "ID3genre", "ID3comment", "ID3track",
                           "cbShowTagEditor", "btOk", "btCancel", "lTitle", "GroupBox1"})
    EXPECT_NE(editor.findChild<QWidget*>(name), nullptr) << name;
}

TEST_F(TagEditor, TabOrderFollowsTheFieldsThenTheBoxAndButtons) {
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  const std::vector<QWidget*> expected = {editor.ID3title,   editor.ID3artist, editor.ID3album,
                                          editor.ID3year,    editor.ID3genre,  editor.ID3comment,
                                          editor.ID3track,   editor.cbShowTagEditor,
                                          editor.btOk,       editor.btCancel};
  std::vector<QWidget*> chain;
  QWidget* w = editor.ID3title;
  do {
    if (std::find(expected.begin(), expected.end(), w) != expected.end()) chain.push_back(w);
    w = w->nextInFocusChain();
  } while (w != editor.ID3title && chain.size() < expected.size());
  EXPECT_EQ(chain, expected);
}

TEST_F(TagEditor, OpensWithTheCurrentValuesAndTheBoxUnticked) {
  TagInfo.Title = u"Song";
  TagInfo.Artist = u"Band";
  TagInfo.Album = u"Record";
  TagInfo.Year = u"1999";
  TagInfo.Genre = 17;
  TagInfo.Track = u"7";
  TagInfo.Comment = u"note";
  OptionsSetting.CommonOptions.IsShowTagEditor = false;  // not mirrored by the box
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  EXPECT_EQ(editor.ID3title->text(), "Song");
  EXPECT_EQ(editor.ID3artist->text(), "Band");
  EXPECT_EQ(editor.ID3album->text(), "Record");
  EXPECT_EQ(editor.ID3year->text(), "1999");
  EXPECT_EQ(editor.ID3genre->currentIndex(), 17);
  EXPECT_EQ(editor.ID3track->text(), "7");
  EXPECT_EQ(editor.ID3comment->text(), "note");
  EXPECT_FALSE(editor.cbShowTagEditor->isChecked());
}

TEST_F(TagEditor, StartStoresEveryFieldAndAccepts) {
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  editor.ID3title->setText("T");
  editor.ID3artist->setText("A");
  editor.ID3album->setText("B");
  editor.ID3year->setText("2001");
  editor.ID3genre->setCurrentIndex(148);
  editor.ID3track->setText("12");
  editor.ID3comment->setText("C");
  Start(editor);
  EXPECT_EQ(editor.result(), QDialog::Accepted);
  const TTagInfo expected{u"T", u"A", u"B", u"2001", 148, u"12", u"C"};
  EXPECT_EQ(TagInfo, expected);
  EXPECT_TRUE(OptionsSetting.CommonOptions.IsShowTagEditor);
}

TEST_F(TagEditor, DisabledTitleKeepsTheCurrentTitleButStoresTheRest) {
  TagInfo.Title = u"kept";
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  // What the main window does for a batch of several files.
  editor.ID3title->setEnabled(false);
  editor.lTitle->setEnabled(false);
  editor.ID3title->setText("ignored");
  editor.ID3artist->setText("Artist");
  editor.ID3genre->setCurrentIndex(3);
  Start(editor);
  EXPECT_EQ(editor.result(), QDialog::Accepted);
  EXPECT_EQ(TagInfo.Title, u"kept");
  EXPECT_EQ(TagInfo.Artist, u"Artist");
  EXPECT_EQ(TagInfo.Genre, 3);
}

TEST_F(TagEditor, GenrePositions) {
  {  // -1 left untouched stays -1
    TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
    EXPECT_EQ(editor.ID3genre->currentIndex(), -1);
    Start(editor);
    EXPECT_EQ(TagInfo.Genre, -1);
  }
  {  // the empty entry is a choice of its own: 0
    TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
    editor.ID3genre->setCurrentIndex(0);
    Start(editor);
    EXPECT_EQ(TagInfo.Genre, 0);
  }
  {  // a current position kept through Start
    TagInfo.Genre = 42;
    TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
    Start(editor);
    EXPECT_EQ(TagInfo.Genre, 42);
  }
  {  // a position past the list selects nothing, and Start then stores -1
    TagInfo.Genre = 149;
    TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
    EXPECT_EQ(editor.ID3genre->currentIndex(), -1);
    Start(editor);
    EXPECT_EQ(TagInfo.Genre, -1);
  }
}

TEST_F(TagEditor, TheBoxIsTheInverseOfTheSetting) {
  {
    TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
    editor.cbShowTagEditor->setChecked(true);
    Start(editor);
    EXPECT_FALSE(OptionsSetting.CommonOptions.IsShowTagEditor);
  }
  {  // opened while the setting was off (a same-tag batch): Start unticked turns it on
    ASSERT_FALSE(OptionsSetting.CommonOptions.IsShowTagEditor);
    TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
    EXPECT_FALSE(editor.cbShowTagEditor->isChecked());
    Start(editor);
    EXPECT_TRUE(OptionsSetting.CommonOptions.IsShowTagEditor);
  }
}

TEST_F(TagEditor, CancelStoresNothing) {
  TagInfo.Title = u"before";
  TagInfo.Genre = 5;
  const TTagInfo before = TagInfo;
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  editor.ID3title->setText("after");
  editor.ID3artist->setText("someone");
  editor.ID3genre->setCurrentIndex(9);
  editor.cbShowTagEditor->setChecked(true);
  QTest::mouseClick(editor.btCancel, Qt::LeftButton);
  EXPECT_EQ(editor.result(), QDialog::Rejected);
  EXPECT_EQ(TagInfo, before);
  EXPECT_TRUE(OptionsSetting.CommonOptions.IsShowTagEditor);
}

TEST_F(TagEditor, EnterInAFieldStarts) {
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  editor.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
  editor.ID3artist->setFocus();
  QTest::keyClicks(editor.ID3artist, "Typed");
  QTest::keyClick(editor.ID3artist, Qt::Key_Return);
  EXPECT_EQ(editor.result(), QDialog::Accepted);
  EXPECT_EQ(TagInfo.Artist, u"Typed");
}

// Typed and set text is stored whole: only the ID3v1 record cuts its own copy.
TEST_F(TagEditor, TextIsStoredWholeAsTyped) {
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  editor.ID3artist->setText(QString(31, u'a'));
  editor.ID3year->setText("20245");
  editor.ID3track->setText("ab");  // not checked for digits
  editor.ID3comment->setText(QString(35, u'c'));
  QTest::keyClicks(editor.ID3album, "0123456789012345678901234567890123");
  QTest::keyClicks(editor.ID3title, QString(300, u't'));
  Start(editor);
  EXPECT_EQ(TagInfo.Artist, std::u16string(31, u'a'));
  EXPECT_EQ(TagInfo.Album, u"0123456789012345678901234567890123");
  EXPECT_EQ(TagInfo.Title, std::u16string(300, u't'));
  EXPECT_EQ(TagInfo.Year, u"20245");
  EXPECT_EQ(TagInfo.Track, u"ab");
  EXPECT_EQ(TagInfo.Comment, std::u16string(35, u'c'));
}

// A full date and a track with its total are typed in whole; the limits stop only past them.
TEST_F(TagEditor, YearTakesADateAndTrackItsTotal) {
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  QTest::keyClicks(editor.ID3year, "2003-04-05X");
  QTest::keyClicks(editor.ID3track, "3/12");
  Start(editor);
  EXPECT_EQ(TagInfo.Year, u"2003-04-05");
  EXPECT_EQ(TagInfo.Track, u"3/12");
}

// Laid out, the text fields show an ordinary 40-character name whole, and the year and track
// fields their longest ordinary values.
TEST_F(TagEditor, FieldsShowFortyCharactersWhole) {
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  editor.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
  const QString forty = QStringLiteral("The Philharmonic Orchestra and Its Choir");
  ASSERT_EQ(forty.size(), 40);
  auto fits = [](const QLineEdit* edit, const QString& text) {
    // What a line edit leaves for text inside its frame and margins.
    const int room = edit->contentsRect().width() - edit->textMargins().left() - edit->textMargins().right() - 4;
    return QFontMetrics(edit->font()).horizontalAdvance(text) <= room;
  };
  for (const QLineEdit* edit : {editor.ID3title, editor.ID3artist, editor.ID3album, editor.ID3comment})
    EXPECT_TRUE(fits(edit, forty)) << edit->objectName().toStdString() << " is " << edit->width() << " wide";
  EXPECT_TRUE(fits(editor.ID3year, QStringLiteral("2003-04-05")));
  EXPECT_TRUE(fits(editor.ID3track, QStringLiteral("12/15")));
}

// For an MP3 output a note says the ID3v1 record cuts text longer than 30 characters or
// outside Latin-1; it follows the typing, ignores a disabled title, and WMA outputs have none.
TEST_F(TagEditor, Mp3OutputNotesWhatTheId3v1RecordCuts) {
  TagInfo.Artist = std::u16string(31, u'a');
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  EXPECT_FALSE(editor.lId3v1Note->isVisibleTo(&editor)) << "no note before the output is known";
  editor.SetMp3Output(true);
  EXPECT_TRUE(editor.lId3v1Note->isVisibleTo(&editor));
  EXPECT_NE(editor.lId3v1Note->text().indexOf("30"), -1);
  EXPECT_NE(editor.lId3v1Note->text().indexOf("ID3v2"), -1);
  editor.ID3artist->setText(QString(30, u'a'));
  EXPECT_FALSE(editor.lId3v1Note->isVisibleTo(&editor)) << "30 Latin-1 characters fit";
  editor.ID3album->setText(QStringLiteral("Café"));
  EXPECT_FALSE(editor.lId3v1Note->isVisibleTo(&editor)) << "Latin-1 fits";
  QTest::keyClicks(editor.ID3comment, QString(31, u'c'));
  EXPECT_TRUE(editor.lId3v1Note->isVisibleTo(&editor));
  editor.ID3comment->clear();
  editor.ID3title->setText(QStringLiteral("東京"));
  EXPECT_TRUE(editor.lId3v1Note->isVisibleTo(&editor)) << "not Latin-1";
  editor.ID3title->setEnabled(false);
  editor.SetMp3Output(true);
  EXPECT_FALSE(editor.lId3v1Note->isVisibleTo(&editor)) << "a disabled title is not stored";
  editor.ID3title->setEnabled(true);
  const QSize before = editor.size();
  editor.SetMp3Output(true);
  EXPECT_TRUE(editor.lId3v1Note->isVisibleTo(&editor));
  EXPECT_EQ(editor.size(), before) << "the note does not move the fields";
  editor.SetMp3Output(false);
  EXPECT_FALSE(editor.lId3v1Note->isVisibleTo(&editor));
}

// A file's name or its own tags (set before the dialog opens) reach the output whole when
// the user just presses Start, however long; typing adds to them.
TEST_F(TagEditor, LongerCurrentValuesArriveWhole) {
  const std::u16string title = u"A Title Of A Song That Is Longer Than Thirty Characters";
  TagInfo.Title = title;
  TagInfo.Artist = std::u16string(31, u'a');
  TagInfo.Album = std::u16string(64, u'b');
  TagInfo.Year = u"2001-05-03";
  TagInfo.Track = u"12/15";
  TagInfo.Comment = std::u16string(40, u'c');
  const TTagInfo before = TagInfo;
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  EXPECT_EQ(editor.ID3title->text(), QString::fromStdU16String(title));
  EXPECT_EQ(editor.ID3year->text(), "2001-05-03");
  Start(editor);
  EXPECT_EQ(TagInfo, before);

  TfrmTagEditor again(nullptr, TagInfo, OptionsSetting);
  again.ID3title->end(false);
  QTest::keyClicks(again.ID3title, "xyz");
  again.ID3track->end(false);
  QTest::keyClicks(again.ID3track, "9");
  Start(again);
  EXPECT_EQ(TagInfo.Title, title + u"xyz");
  EXPECT_EQ(TagInfo.Track, u"12/159");
}

TEST_F(TagEditor, NonAsciiTextRoundTrips) {
  const std::u16string title = u"Caf\u00e9 \u00fcber \u6771\u4eac \U0001F3B5";
  const std::u16string artist = u"\u0414\u0435\u0442\u0438 \u2013 \u05e9\u05dc\u05d5\u05dd";
  TagInfo.Title = title;
  TfrmTagEditor editor(nullptr, TagInfo, OptionsSetting);
  EXPECT_EQ(editor.ID3title->text(), QString::fromStdU16String(title));
  editor.ID3artist->setText(QString::fromStdU16String(artist));
  QTest::sendKeyEvent(QTest::KeyAction::Click, editor.ID3comment, Qt::Key_unknown, QStringLiteral("\u00df"),
                      Qt::NoModifier);
  Start(editor);
  EXPECT_EQ(TagInfo.Title, title);
  EXPECT_EQ(TagInfo.Artist, artist);
  EXPECT_EQ(TagInfo.Comment, u"\u00df");
}

}  // namespace melvanto::testing
