#include "about_box.h"
namespace melvanto::gui {
TfrmAbout::TfrmAbout(QWidget* owner) : QDialog(owner) {}
void TfrmAbout::showEvent(QShowEvent* event) { QDialog::showEvent(event); }
bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) { return QDialog::eventFilter(watched, event); }
}  // namespace melvanto::gui
