#include "tag_editor.h"
namespace melvanto::gui {
TfrmTagEditor::TfrmTagEditor(QWidget* owner) : QDialog(owner) {}
void TfrmTagEditor::btOkClick() {}
}  // namespace melvanto::gui
