#include "theme.h"
#include <QApplication>
namespace melvanto::gui {
QStringList ThemeNames() { return {}; }
bool ApplyTheme(QApplication&, const QString&) { return false; }
QString CurrentTheme() { return {}; }
QPixmap ThemePixmap(const QString&, const QSize&) { return {}; }
QIcon ProgramIcon() { return {}; }
}  // namespace melvanto::gui
