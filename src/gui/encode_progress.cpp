#include "encode_progress.h"
#include <QCloseEvent>
namespace melvanto::gui {
TfrmEncodeProgress::TfrmEncodeProgress(QWidget* owner, const std::vector<std::string>& files)
    : QDialog(owner), Runner_(std::make_unique<TConversionRunner>(*this, files)) {}
TfrmEncodeProgress::~TfrmEncodeProgress() = default;
TConversionMode TfrmEncodeProgress::Mode() const { return Runner_->Mode(); }
void TfrmEncodeProgress::SetMode(TConversionMode value) { Runner_->SetMode(value); }
void TfrmEncodeProgress::SetCaption(const std::string&) {}
void TfrmEncodeProgress::SetInputFileName(const std::string&) {}
void TfrmEncodeProgress::SetOutputFileName(const std::string&) {}
void TfrmEncodeProgress::SetOutputFolder(const std::string&) {}
void TfrmEncodeProgress::SetSelectedTracks(const std::string&) {}
void TfrmEncodeProgress::SetCompleted(const std::string&) {}
void TfrmEncodeProgress::SetProgressHint(const std::string&) {}
void TfrmEncodeProgress::SetProgressCaption(const std::string&) {}
void TfrmEncodeProgress::SetProgress(std::int32_t) {}
void TfrmEncodeProgress::FileFinished(const TFileResult&) {}
bool TfrmEncodeProgress::AskOverwrite(const std::string&, const std::string&) { return false; }
void TfrmEncodeProgress::PostBatchStep(std::int32_t) {}
void TfrmEncodeProgress::CloseWindow() {}
QString TfrmEncodeProgress::FailureSummary() const { return {}; }
bool TfrmEncodeProgress::event(QEvent* event) { return QDialog::event(event); }
void TfrmEncodeProgress::closeEvent(QCloseEvent* event) { QDialog::closeEvent(event); }
void TfrmEncodeProgress::reject() { QDialog::reject(); }
}  // namespace melvanto::gui
