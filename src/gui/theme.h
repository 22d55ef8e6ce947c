#pragma once

// The look of the windows: the built-in styles "DeepBlue" (the default) and "BlueGlass",
// each a style sheet, a palette and a set of images of our own making.

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

class QApplication;

namespace melvanto::gui {

inline constexpr const char* kDefaultTheme = "DeepBlue";

QStringList ThemeNames();
// Gives the application the style's sheet, palette and program icon; false (and nothing
// changed) for an unknown name.
bool ApplyTheme(QApplication& app, const QString& name = kDefaultTheme);
QString CurrentTheme();
// One of the current style's images drawn at size: "background" (main window), "banner"
// (about box), "icon" (the program icon), "minimize", "close" (the main window's image
// buttons), "folder" (the options dialog's output group), "donate" (the about box's button).
// A null pixmap for an unknown name.
QPixmap ThemePixmap(const QString& name, const QSize& size);
// The program icon in the sizes a window system asks for.
QIcon ProgramIcon();

}  // namespace melvanto::gui
