#include "dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>

namespace melvanto::gui {

namespace {
TDialogs* Replacement = nullptr;
}

QStringList TQtDialogs::GetOpenFileNames(QWidget* owner, const QString& title, const QString& filter) {
  QFileDialog dialog(owner, title, QString(), filter);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setOption(QFileDialog::ReadOnly, false);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

void TQtDialogs::ShowMessage(QWidget* owner, const QString& caption, const QString& text,
                             QMessageBox::Icon icon) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
  box.exec();
}

bool TQtDialogs::AskYesNo(QWidget* owner, const QString& caption, const QString& text, QMessageBox::Icon icon) {
  QMessageBox box(icon, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
  return box.exec() == QMessageBox::Yes;
}

QMessageBox::StandardButton TQtDialogs::AskChoice(QWidget* owner, const QString& caption, const QString& text,
                                                  QMessageBox::Icon icon,
                                                  QMessageBox::StandardButtons buttons,
                                                  QMessageBox::StandardButton defaultButton) {
  QMessageBox box(icon, caption, text, buttons, owner);
  box.setDefaultButton(defaultButton);
  // With two buttons of one role (No, No to all) Qt would find no escape button, and Escape
  // and the close box would do nothing.
  box.setEscapeButton(defaultButton);
  box.exec();
  return box.standardButton(box.clickedButton());
}

bool TQtDialogs::PickFolder(QWidget* owner, const QString& caption, const QString& root, QString& directory) {
  const QString start = directory.isEmpty() ? root : directory;
  const QString chosen = QFileDialog::getExistingDirectory(owner, caption, start, QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return false;
  directory = chosen;
  return true;
}

void TQtDialogs::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

int TQtDialogs::Exec(QDialog& dialog) { return dialog.exec(); }

TDialogs& Dialogs() {
  static TQtDialogs real;
  return Replacement != nullptr ? *Replacement : real;
}

void SetDialogsForTesting(TDialogs* dialogs) { Replacement = dialogs; }

bool BrowseForFolder(const QString& Caption, const QString& Root, QString& Directory) {
  if (!QFileInfo(Directory).isDir()) Directory.clear();
  return Dialogs().PickFolder(QApplication::activeWindow(), Caption, Root, Directory);
}

}  // namespace melvanto::gui
