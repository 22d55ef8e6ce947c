#include "options_dialog.h"
namespace melvanto::gui {
TfrmOptions::TfrmOptions(QWidget* owner) : QDialog(owner) {}
void TfrmOptions::LoadStep() {}
bool TfrmOptions::btOkClick() { return false; }
void TfrmOptions::bDefaultClick() {}
void TfrmOptions::bWMADefaultClick() {}
void TfrmOptions::btBrowserClick() {}
}  // namespace melvanto::gui
