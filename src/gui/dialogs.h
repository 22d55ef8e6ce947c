#pragma once

// The window system's dialogs and shell calls, behind one interface so that tests can
// answer them.

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

class QDialog;
class QWidget;

namespace melvanto::gui {

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // The multi-select file-open dialog (read-only box hidden, resizable). filter uses Qt's
  // "A (*.x);;B (*)" form. Empty when cancelled.
  virtual QStringList GetOpenFileNames(QWidget* owner, const QString& title, const QString& filter) = 0;
  // A message box with an OK button.
  virtual void ShowMessage(QWidget* owner, const QString& caption, const QString& text,
                           QMessageBox::Icon icon) = 0;
  // A message box with Yes and No; true for Yes.
  virtual bool AskYesNo(QWidget* owner, const QString& caption, const QString& text,
                        QMessageBox::Icon icon) = 0;
  // A message box with the given buttons, defaultButton focused (and what Escape and the
  // close box answer). The button pressed.
  virtual QMessageBox::StandardButton AskChoice(QWidget* owner, const QString& caption, const QString& text,
                                                QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                                QMessageBox::StandardButton defaultButton) = 0;
  // The folder picker, rooted at root when not empty, starting at directory. True and
  // directory set when the user picked a folder.
  virtual bool PickFolder(QWidget* owner, const QString& caption, const QString& root,
                          QString& directory) = 0;
  // The shell's "Open" of a web address or a folder (file:// URL). The result is not checked.
  virtual void OpenUrl(const QUrl& url) = 0;
  // Shows a modal dialog and returns its result (QDialog::Accepted or Rejected).
  virtual int Exec(QDialog& dialog) = 0;
};

// The real ones: QFileDialog, QMessageBox, QDesktopServices.
class TQtDialogs : public TDialogs {
 public:
  QStringList GetOpenFileNames(QWidget* owner, const QString& title, const QString& filter) override;
  void ShowMessage(QWidget* owner, const QString& caption, const QString& text, QMessageBox::Icon icon) override;
  bool AskYesNo(QWidget* owner, const QString& caption, const QString& text, QMessageBox::Icon icon) override;
  QMessageBox::StandardButton AskChoice(QWidget* owner, const QString& caption, const QString& text,
                                        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override;
  bool PickFolder(QWidget* owner, const QString& caption, const QString& root, QString& directory) override;
  void OpenUrl(const QUrl& url) override;
  int Exec(QDialog& dialog) override;
};

// The dialogs every window uses: the real ones unless a test put others in place.
TDialogs& Dialogs();
// nullptr restores the real ones. The caller keeps ownership.
void SetDialogsForTesting(TDialogs* dialogs);

// The folder picker of the options dialog: Directory is cleared when it names no existing
// folder; then the picker is shown with Caption as its prompt, rooted at Root when that is
// not empty. True and Directory set to the chosen folder when the user picks one.
bool BrowseForFolder(const QString& Caption, const QString& Root, QString& Directory);

}  // namespace melvanto::gui
