#pragma once

// The about box: product name, version, maker, licence, the libraries in use, and the home
// and donation pages.

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace melvanto::gui {

class TfrmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmAbout(QWidget* owner);

  QLabel* Image2 = nullptr;  // banner
  QLabel* Image1 = nullptr;  // program icon
  QLabel* Label1 = nullptr;  // product name, set when shown
  QLabel* Label2 = nullptr;  // version
  QLabel* Image3 = nullptr;  // donate button (opens the donation page when clicked)
  QLabel* lCopywrite = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label3 = nullptr;      // support e-mail
  QLabel* lLicence = nullptr;    // the program's own licence
  QLabel* lLibrariesTitle = nullptr;
  QLabel* lLibraries = nullptr;  // each library: version as loaded, licence
  QFrame* Panel2 = nullptr;      // the lowered line above the web address
  QLabel* lbEAddress = nullptr;  // the maker's web address (opens the home page when clicked)
  QPushButton* bOK = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace melvanto::gui
