#pragma once

// A stand-in for the window system's dialogs: records every call and answers from a script.

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "dialogs.h"

namespace melvanto::testing {

class FakeDialogs : public gui::TDialogs {
 public:
  struct Message {
    QString Caption, Text;
    QMessageBox::Icon Icon;
    // Questions asked with a choice of buttons: those, and the default.
    QMessageBox::StandardButtons Buttons = QMessageBox::NoButton;
    QMessageBox::StandardButton Default = QMessageBox::NoButton;
  };
  struct OpenCall {
    QString Title, Filter;
  };

  FakeDialogs() { gui::SetDialogsForTesting(this); }
  ~FakeDialogs() override { gui::SetDialogsForTesting(nullptr); }
  FakeDialogs(const FakeDialogs&) = delete;
  FakeDialogs& operator=(const FakeDialogs&) = delete;

  // Answers: files of the next open dialogs (empty list = cancelled), Yes/No answers (when
  // they run out: No), the folder the picker returns (empty = cancelled).
  std::vector<QStringList> FilesToOpen;
  std::vector<bool> Answers;
  // Buttons pressed in the next choices (when they run out: the default).
  std::vector<QMessageBox::StandardButton> Choices;
  QString FolderToPick;
  // What Exec does with a modal dialog; by default it really runs it (dialog.exec()).
  std::function<int(QDialog&)> OnExec;

  std::vector<OpenCall> Opens;
  std::vector<Message> Messages;
  std::vector<Message> Questions;
  std::vector<QString> PickerCaptions, PickerRoots, PickerStarts;
  std::vector<QUrl> Urls;
  std::vector<QString> Executed;  // class names of the dialogs shown modally

  QStringList GetOpenFileNames(QWidget*, const QString& title, const QString& filter) override {
    Opens.push_back({title, filter});
    if (FilesToOpen.empty()) return {};
    QStringList files = FilesToOpen.front();
    FilesToOpen.erase(FilesToOpen.begin());
    return files;
  }
  void ShowMessage(QWidget*, const QString& caption, const QString& text, QMessageBox::Icon icon) override {
    Messages.push_back({caption, text, icon});
  }
  bool AskYesNo(QWidget*, const QString& caption, const QString& text, QMessageBox::Icon icon) override {
    Questions.push_back({caption, text, icon});
    if (Answers.empty()) return false;
    const bool answer = Answers.front();
    Answers.erase(Answers.begin());
    return answer;
  }
  QMessageBox::StandardButton AskChoice(QWidget*, const QString& caption, const QString& text,
                                        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override {
    Questions.push_back({caption, text, icon, buttons, defaultButton});
    if (Choices.empty()) return defaultButton;
    const QMessageBox::StandardButton choice = Choices.front();
    Choices.erase(Choices.begin());
    return choice;
  }
  bool PickFolder(QWidget*, const QString& caption, const QString& root, QString& directory) override {
    PickerCaptions.push_back(caption);
    PickerRoots.push_back(root);
    PickerStarts.push_back(directory);
    if (FolderToPick.isEmpty()) return false;
    directory = FolderToPick;
    return true;
  }
  void OpenUrl(const QUrl& url) override { Urls.push_back(url); }
  int Exec(QDialog& dialog) override {
    Executed.push_back(QString::fromLatin1(dialog.metaObject()->className()));
    return OnExec ? OnExec(dialog) : dialog.exec();
  }
};

}  // namespace melvanto::testing
