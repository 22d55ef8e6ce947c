// The real dialogs (QFileDialog, QMessageBox) driven the way a user answers them: each call
// runs its own modal loop, in which a queued step finds the dialog and answers it.

#include "dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "temp_dir.h"

// Readable failure messages; found by argument lookup, so it lives beside QString.
static void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

// Only a guard against a hang: every wait ends on its condition long before.
constexpr int kGuardMs = 120000;

// Answers the next modal dialog: a zero-delay step, queued again and again until the dialog
// of type T is the active modal widget; then `answer` runs once with it. The steps die with
// this object, so an answer never reaches a later test.
template <class T>
class ModalAnswer {
 public:
  explicit ModalAnswer(std::function<void(T&)> answer) : answer_(std::move(answer)) { Arm(); }
  bool Answered() const { return answered_; }

 private:
  void Arm() {
    QTimer::singleShot(0, &context_, [this] {
      if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
        answered_ = true;
        answer_(*dialog);
      } else {
        Arm();
      }
    });
  }
  std::function<void(T&)> answer_;
  QObject context_;
  bool answered_ = false;
};

QString Q(const fs::path& p) {
  return QString::fromStdString(p.string());
}

void Touch(const fs::path& p) {
  std::ofstream(p) << "x";
}

// What the file dialog's list shows now, by name.
QSet<QString> Listed(QFileDialog& dialog) {
  auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
  QSet<QString> names;
  if (view == nullptr) return names;
  const QModelIndex root = view->rootIndex();
  for (int row = 0; row < view->model()->rowCount(root); ++row)
    names.insert(view->model()->index(row, 0, root).data().toString());
  return names;
}

bool ShowsFolder(QFileDialog& dialog, const QString& folder) {
  auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
  return view != nullptr && view->rootIndex().data(QFileSystemModel::FilePathRole).toString() == folder;
}

// Selects the listed entries with these names, as Ctrl+clicks would.
void SelectListed(QFileDialog& dialog, const QStringList& names) {
  auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
  ASSERT_NE(view, nullptr);
  const QModelIndex root = view->rootIndex();
  view->selectionModel()->clearSelection();
  for (const QString& name : names) {
    const auto found =
        view->model()->match(view->model()->index(0, 0, root), Qt::DisplayRole, name, 1, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << name.toStdString();
    view->selectionModel()->select(found.front(), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
}

QAbstractButton* DialogButton(QFileDialog& dialog, QDialogButtonBox::StandardButton which) {
  auto* box = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  return box != nullptr ? box->button(which) : nullptr;
}

void Click(QAbstractButton* button) {
  ASSERT_NE(button, nullptr);
  ASSERT_TRUE(button->isEnabled());
  QTest::mouseClick(button, Qt::LeftButton);
}

// Without Qt's own widget dialog (a native one) nothing here could answer the dialogs.
TEST(QtDialogs, FileDialogsAreQtWidgetsHere) {
  QFileDialog dialog;
  dialog.show();
  EXPECT_NE(dialog.findChild<QListView*>(QStringLiteral("listView")), nullptr)
      << "a native file dialog is in use; the tests below would wait for it forever";
  dialog.hide();
}

struct OpenDialogSeen {
  QString Title;
  QStringList Filters, ComboEntries;
  QString FirstSelected;
  QFileDialog::FileMode Mode = QFileDialog::AnyFile;
  bool ReadOnly = true, SizeGrip = false, Resizable = false;
  QSet<QString> UnderFirst, UnderSecond;
};

class QtOpenDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.wma", "b.wma", "LOUD.WMA", "notes.txt", "noext", "a.wma.txt"})
      Touch(dir_ / name);
  }
  // The filter the main window gives for WMA sources.
  const QString filter_ = QStringLiteral("Sound files (*.wma);;All files (*)");
  TempDir dir_;
};

TEST_F(QtOpenDialog, OffersBothFiltersAndReturnsTheChosenFilesWithTheirFolders) {
  gui::TQtDialogs dialogs;
  OpenDialogSeen seen;
  ModalAnswer<QFileDialog> answer([&](QFileDialog& d) {
    seen.Title = d.windowTitle();
    seen.Filters = d.nameFilters();
    if (auto* combo = d.findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
      for (int i = 0; i < combo->count(); ++i) seen.ComboEntries << combo->itemText(i);
    seen.FirstSelected = d.selectedNameFilter();
    seen.Mode = d.fileMode();
    seen.ReadOnly = d.testOption(QFileDialog::ReadOnly);
    seen.SizeGrip = d.isSizeGripEnabled();
    seen.Resizable = d.minimumSize() != d.maximumSize();
    d.setDirectory(Q(dir_.Path()));
    // All names in the model first (the catch-all entry), so that the narrower entry's list
    // is complete when it matches.
    if (seen.Filters.size() == 2) {
      d.selectNameFilter(seen.Filters[1]);
      EXPECT_TRUE(
          QTest::qWaitFor([&] { return ShowsFolder(d, Q(dir_.Path())) && Listed(d).size() >= 6; }, kGuardMs));
      seen.UnderSecond = Listed(d);
      d.selectNameFilter(seen.Filters[0]);
      EXPECT_TRUE(QTest::qWaitFor([&] { return Listed(d).size() <= 3; }, kGuardMs));
      seen.UnderFirst = Listed(d);
    }
    SelectListed(d, {"a.wma", "LOUD.WMA"});
    Click(DialogButton(d, QDialogButtonBox::Open));
  });

  const QStringList chosen =
      dialogs.GetOpenFileNames(nullptr, "Wma to Mp3 Converter (One or multiple files)", filter_);

  ASSERT_TRUE(answer.Answered());
  EXPECT_EQ(seen.Title, "Wma to Mp3 Converter (One or multiple files)");
  // Qt splits at ";;" and drops the blank before the second entry.
  EXPECT_EQ(seen.Filters, QStringList({"Sound files (*.wma)", "All files (*)"}));
  EXPECT_EQ(seen.ComboEntries, seen.Filters);
  EXPECT_EQ(seen.FirstSelected, "Sound files (*.wma)");
  EXPECT_EQ(seen.Mode, QFileDialog::ExistingFiles);
  EXPECT_FALSE(seen.ReadOnly);
  EXPECT_TRUE(seen.SizeGrip);
  EXPECT_TRUE(seen.Resizable);
  EXPECT_EQ(seen.UnderSecond,
            QSet<QString>({"a.wma", "b.wma", "LOUD.WMA", "notes.txt", "noext", "a.wma.txt"}));
  EXPECT_EQ(seen.UnderFirst, QSet<QString>({"a.wma", "b.wma", "LOUD.WMA"}))
      << "the sound entry lists every .wma file, whatever the case of its extension, and nothing else";
  const QSet<QString> got(chosen.begin(), chosen.end());
  EXPECT_EQ(chosen.size(), 2);
  EXPECT_EQ(got, QSet<QString>({Q(dir_ / "a.wma"), Q(dir_ / "LOUD.WMA")}));
}

TEST_F(QtOpenDialog, ATypedListOfNamesOpensThemAll) {
  gui::TQtDialogs dialogs;
  ModalAnswer<QFileDialog> answer([&](QFileDialog& d) {
    d.setDirectory(Q(dir_.Path()));
    auto* edit = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(QStringLiteral("\"b.wma\" \"noext\""));
    Click(DialogButton(d, QDialogButtonBox::Open));
  });
  const QStringList chosen = dialogs.GetOpenFileNames(nullptr, "t", filter_);
  ASSERT_TRUE(answer.Answered());
  EXPECT_EQ(QSet<QString>(chosen.begin(), chosen.end()),
            QSet<QString>({Q(dir_ / "b.wma"), Q(dir_ / "noext")}));
}

TEST_F(QtOpenDialog, CancelReturnsNoFiles) {
  gui::TQtDialogs dialogs;
  ModalAnswer<QFileDialog> answer([&](QFileDialog& d) {
    d.setDirectory(Q(dir_.Path()));
    SelectListed(d, {});
    Click(DialogButton(d, QDialogButtonBox::Cancel));
  });
  EXPECT_TRUE(dialogs.GetOpenFileNames(nullptr, "t", filter_).isEmpty());
  EXPECT_TRUE(answer.Answered());

  ModalAnswer<QFileDialog> escape([&](QFileDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
  EXPECT_TRUE(dialogs.GetOpenFileNames(nullptr, "t", filter_).isEmpty());
  EXPECT_TRUE(escape.Answered());
}

struct BoxSeen {
  QString Caption, Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons Buttons;
};

BoxSeen Look(QMessageBox& box) {
  return {box.windowTitle(), box.text(), box.icon(), box.standardButtons()};
}

TEST(QtMessageBox, ShowMessageShowsCaptionTextAndIconWithOk) {
  gui::TQtDialogs dialogs;
  for (const QMessageBox::Icon icon :
       {QMessageBox::Information, QMessageBox::Warning, QMessageBox::Critical}) {
    BoxSeen seen;
    ModalAnswer<QMessageBox> answer([&](QMessageBox& box) {
      seen = Look(box);
      Click(box.button(QMessageBox::Ok));
    });
    dialogs.ShowMessage(nullptr, "Melvanto", QString::fromUtf8("the output folder does not exist. Größe"),
                        icon);
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(seen.Caption, "Melvanto");
    EXPECT_EQ(seen.Text, QString::fromUtf8("the output folder does not exist. Größe"));
    EXPECT_EQ(seen.Icon, icon);
    EXPECT_EQ(seen.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }
}

TEST(QtMessageBox, AskYesNoIsTrueOnlyForYes) {
  gui::TQtDialogs dialogs;
  const std::function<void(QMessageBox&)> answers[] = {
      [](QMessageBox& box) { Click(box.button(QMessageBox::Yes)); },
      [](QMessageBox& box) { Click(box.button(QMessageBox::No)); },
      [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); },
      [](QMessageBox& box) { box.close(); },
  };
  const bool expected[] = {true, false, false, false};
  for (int i = 0; i < 4; ++i) {
    BoxSeen seen;
    ModalAnswer<QMessageBox> answer([&](QMessageBox& box) {
      seen = Look(box);
      answers[i](box);
    });
    const bool yes = dialogs.AskYesNo(nullptr, "Melvanto", "Replace it?", QMessageBox::Question);
    ASSERT_TRUE(answer.Answered()) << i;
    EXPECT_EQ(yes, expected[i]) << "answer " << i << " (Yes, No, Escape, close)";
    EXPECT_EQ(seen.Caption, "Melvanto");
    EXPECT_EQ(seen.Text, "Replace it?");
    EXPECT_EQ(seen.Icon, QMessageBox::Question);
    EXPECT_EQ(seen.Buttons, QMessageBox::Yes | QMessageBox::No);
  }
}

// The overwrite question's box: each button answers itself; Return takes the default, and
// Escape and the close box answer it too (with two No buttons Qt would find no escape).
TEST(QtMessageBox, AskChoiceAnswersTheButtonPressedAndDefaultsOtherwise) {
  gui::TQtDialogs dialogs;
  const auto buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll | QMessageBox::NoToAll;
  struct Case {
    const char* what;
    std::function<void(QMessageBox&)> act;
    QMessageBox::StandardButton expected;
  };
  const Case cases[] = {
      {"Yes", [](QMessageBox& box) { Click(box.button(QMessageBox::Yes)); }, QMessageBox::Yes},
      {"Yes to all", [](QMessageBox& box) { Click(box.button(QMessageBox::YesToAll)); },
       QMessageBox::YesToAll},
      {"No to all", [](QMessageBox& box) { Click(box.button(QMessageBox::NoToAll)); }, QMessageBox::NoToAll},
      {"Return", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }, QMessageBox::No},
      {"Escape", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, QMessageBox::No},
      {"close", [](QMessageBox& box) { box.close(); }, QMessageBox::No},
  };
  for (const Case& c : cases) {
    BoxSeen seen;
    bool noIsDefault = false;
    ModalAnswer<QMessageBox> answer([&](QMessageBox& box) {
      seen = Look(box);
      noIsDefault = box.defaultButton() == box.button(QMessageBox::No);
      c.act(box);
    });
    const auto pressed = dialogs.AskChoice(nullptr, "Melvanto", "x already exists. Replace it?",
                                           QMessageBox::Question, buttons, QMessageBox::No);
    ASSERT_TRUE(answer.Answered()) << c.what;
    EXPECT_EQ(pressed, c.expected) << c.what;
    EXPECT_EQ(seen.Buttons, buttons);
    EXPECT_EQ(seen.Icon, QMessageBox::Question);
    EXPECT_TRUE(noIsDefault);
  }
}

struct PickerSeen {
  QString Caption, Start;
  std::optional<QString> DirectoryWhileShown;
  QFileDialog::FileMode Mode = QFileDialog::AnyFile;
  bool DirsOnly = false;
};

class QtFolderPicker : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "start" / "chosen");
    fs::create_directories(dir_ / "root");
    Touch(dir_ / "start" / "file.wma");
  }
  // Looks at the picker, then picks the folder `pick` inside the folder shown, or cancels
  // when pick is empty.
  void Answer(QFileDialog& d, const QString& pick, const QString* watched = nullptr) {
    seen_.Caption = d.windowTitle();
    seen_.Start = d.directory().absolutePath();
    seen_.Mode = d.fileMode();
    seen_.DirsOnly = d.testOption(QFileDialog::ShowDirsOnly);
    if (watched != nullptr) seen_.DirectoryWhileShown = *watched;
    if (pick.isEmpty()) {
      Click(DialogButton(d, QDialogButtonBox::Cancel));
      return;
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return Listed(d).contains(pick); }, kGuardMs));
    EXPECT_FALSE(Listed(d).contains("file.wma")) << "only folders are offered";
    SelectListed(d, {pick});
    Click(DialogButton(d, QDialogButtonBox::Open));
  }
  TempDir dir_;
  PickerSeen seen_;
};

TEST_F(QtFolderPicker, ReturnsTheChosenFolderStartingAtTheGivenOne) {
  gui::TQtDialogs dialogs;
  QString directory = Q(dir_ / "start");
  ModalAnswer<QFileDialog> answer([&](QFileDialog& d) { Answer(d, "chosen"); });
  EXPECT_TRUE(
      dialogs.PickFolder(nullptr, "Please select the folder to save the audio file", QString(), directory));
  ASSERT_TRUE(answer.Answered());
  EXPECT_EQ(directory, Q(dir_ / "start" / "chosen"));
  EXPECT_EQ(seen_.Caption, "Please select the folder to save the audio file");
  EXPECT_EQ(seen_.Start, Q(dir_ / "start"));
  EXPECT_EQ(seen_.Mode, QFileDialog::Directory);
  EXPECT_TRUE(seen_.DirsOnly);
}

TEST_F(QtFolderPicker, CancelLeavesTheDirectoryAndReportsFalse) {
  gui::TQtDialogs dialogs;
  QString directory = Q(dir_ / "start");
  ModalAnswer<QFileDialog> answer([&](QFileDialog& d) { Answer(d, QString()); });
  EXPECT_FALSE(dialogs.PickFolder(nullptr, "c", Q(dir_ / "root"), directory));
  ASSERT_TRUE(answer.Answered());
  EXPECT_EQ(directory, Q(dir_ / "start"));
  EXPECT_EQ(seen_.Start, Q(dir_ / "start")) << "the given directory wins over the root";
}

TEST_F(QtFolderPicker, WithoutADirectoryItStartsAtTheRoot) {
  gui::TQtDialogs dialogs;
  QString directory;
  ModalAnswer<QFileDialog> answer([&](QFileDialog& d) { Answer(d, QString()); });
  EXPECT_FALSE(dialogs.PickFolder(nullptr, "c", Q(dir_ / "root"), directory));
  ASSERT_TRUE(answer.Answered());
  EXPECT_TRUE(directory.isEmpty());
  EXPECT_EQ(seen_.Start, Q(dir_ / "root"));
}

TEST_F(QtFolderPicker, BrowseForFolderClearsAMissingDirectoryBeforeThePickerShows) {
  QString directory = Q(dir_ / "gone");
  ModalAnswer<QFileDialog> answer([&](QFileDialog& d) { Answer(d, QString(), &directory); });
  EXPECT_FALSE(gui::BrowseForFolder("c", Q(dir_ / "root"), directory));
  ASSERT_TRUE(answer.Answered());
  ASSERT_TRUE(seen_.DirectoryWhileShown.has_value());
  EXPECT_TRUE(seen_.DirectoryWhileShown->isEmpty());
  EXPECT_EQ(seen_.Start, Q(dir_ / "root"));
  EXPECT_TRUE(directory.isEmpty()) << "a cancel leaves the cleared value";

  // A file is no folder either.
  directory = Q(dir_ / "start" / "file.wma");
  ModalAnswer<QFileDialog> onFile([&](QFileDialog& d) { Answer(d, "chosen", &directory); });
  // With the directory cleared the picker starts at the root, here the folder holding "chosen".
  EXPECT_TRUE(gui::BrowseForFolder("c", Q(dir_ / "start"), directory));
  ASSERT_TRUE(onFile.Answered());
  EXPECT_TRUE(seen_.DirectoryWhileShown->isEmpty());
  EXPECT_EQ(directory, Q(dir_ / "start" / "chosen"));
}

TEST_F(QtFolderPicker, BrowseForFolderKeepsAnExistingDirectory) {
  QString directory = Q(dir_ / "start");
  ModalAnswer<QFileDialog> answer([&](QFileDialog& d) { Answer(d, QString(), &directory); });
  EXPECT_FALSE(gui::BrowseForFolder("Please select the folder to save the audio file", QString(), directory));
  ASSERT_TRUE(answer.Answered());
  EXPECT_EQ(seen_.DirectoryWhileShown, Q(dir_ / "start"));
  EXPECT_EQ(seen_.Start, Q(dir_ / "start"));
  EXPECT_EQ(seen_.Caption, "Please select the folder to save the audio file");
  EXPECT_EQ(directory, Q(dir_ / "start"));
}

}  // namespace
}  // namespace melvanto::testing
