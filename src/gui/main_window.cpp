#include "main_window.h"
#include <QMouseEvent>
namespace melvanto::gui {
TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent) {}
TfrmMain::~TfrmMain() = default;
void TfrmMain::RunBatch(TConversionMode) {}
void TfrmMain::ChooseDefaultWMA() {}
bool TfrmMain::HitTestIsCaption(const QPoint&) const { return false; }
void TfrmMain::Restore() {}
void TfrmMain::bShowFilesClick() {}
void TfrmMain::bHomepageClick() {}
void TfrmMain::bDonateClick() {}
void TfrmMain::bSettingsClick() {}
void TfrmMain::bAboutClick() {}
bool TfrmMain::event(QEvent* event) { return QWidget::event(event); }
void TfrmMain::showEvent(QShowEvent* event) { QWidget::showEvent(event); }
void TfrmMain::closeEvent(QCloseEvent* event) { QWidget::closeEvent(event); }
void TfrmMain::mousePressEvent(QMouseEvent* event) { QWidget::mousePressEvent(event); }
void TfrmMain::mouseMoveEvent(QMouseEvent* event) { QWidget::mouseMoveEvent(event); }
void TfrmMain::mouseReleaseEvent(QMouseEvent* event) { QWidget::mouseReleaseEvent(event); }
}  // namespace melvanto::gui
