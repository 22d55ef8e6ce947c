#include "theme.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QSvgRenderer>
#include <utility>
#include <vector>

namespace melvanto::gui {

namespace {

// One style sheet for both styles; each style fills in its colours and gradients. Written
// once, so a control kind styled in one style is styled in the other as well.
constexpr const char* kSheet = R"(
QDialog { background: @dialog@; }
QToolTip { color: @tipText@; background: @tipBase@; border: 1px solid @border@; padding: 3px; }

QLabel { background: transparent; }
QLabel[role="title"] { color: #ffffff; font-weight: bold; font-size: 10pt; }
QLabel[role="heading"] { color: @heading@; font-weight: bold; }
QLabel[role="link"] { color: @link@; text-decoration: underline; }
QLabel[role="link"]:hover { color: @linkHover@; }
QFrame[role="separator"] { background: @separator@; border: none; }
QFrame#Panel2 { background: transparent; border: none; border-top: 1px solid @sunkenDark@;
  border-bottom: 1px solid @sunkenLight@; }

QPushButton { color: @buttonText@; background: @button@; border: 1px solid @buttonBorder@;
  border-radius: 4px; padding: 2px 10px; min-height: 17px; }
QPushButton:hover { background: @buttonHover@; border-color: @focus@; }
QPushButton:pressed { background: @buttonPressed@; }
QPushButton:focus { border-color: @focus@; }
QPushButton:default { border: 1px solid @accent@; }
QPushButton:disabled { color: @disabledText@; background: @disabledBase@; border-color: @disabledBorder@; }
QPushButton[role="direction"] { text-align: left; padding-left: 14px; font-weight: bold; border-radius: 5px; }
QPushButton[role="flat"] { color: @flatText@; background: transparent; border: 1px solid transparent;
  text-align: left; padding: 1px 6px; }
QPushButton[role="flat"]:hover { color: @flatHoverText@; background: @flatHover@; border-color: @flatHoverBorder@; }
QPushButton[role="flat"]:pressed { background: @flatPressed@; }

QToolButton[role="imagebutton"] { background: transparent; border: none; border-radius: 3px; padding: 0px; }
QToolButton[role="imagebutton"]:hover { background: rgba(255, 255, 255, 50); }
QToolButton[role="imagebutton"]:pressed { background: rgba(0, 0, 0, 60); }
QToolButton#bClose:hover { background: #d8342c; }

QLineEdit { color: @text@; background: @base@; border: 1px solid @border@; border-radius: 3px;
  padding: 1px 4px; selection-color: #ffffff; selection-background-color: @highlight@; }
QLineEdit:focus { border-color: @focus@; }
QLineEdit:disabled { color: @disabledText@; background: @disabledBase@; border-color: @disabledBorder@; }

QComboBox { color: @text@; background: @base@; border: 1px solid @border@; border-radius: 3px;
  padding: 1px 18px 1px 4px; min-height: 17px; selection-background-color: @highlight@; }
QComboBox:focus { border-color: @focus@; }
QComboBox:disabled { color: @disabledText@; background: @disabledBase@; border-color: @disabledBorder@; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: top right; width: 16px;
  border: none; border-left: 1px solid @border@; background: @dropDown@;
  border-top-right-radius: 3px; border-bottom-right-radius: 3px; }
QComboBox::down-arrow { image: url(@arrow@); width: 9px; height: 9px; }
QComboBox QAbstractItemView { color: @text@; background: @base@; border: 1px solid @focus@;
  selection-color: #ffffff; selection-background-color: @highlight@; outline: none; }

QListWidget { color: @text@; background: @base@; border: 1px solid @border@; border-radius: 3px; outline: none; }
QListWidget::item { padding: 1px 3px; }
QListWidget::item:hover { background: @itemHover@; }
QListWidget::item:selected { color: #ffffff; background: @highlight@; }
QListWidget:disabled { color: @disabledText@; background: @disabledBase@; border-color: @disabledBorder@; }

QCheckBox, QRadioButton { color: @windowText@; background: transparent; spacing: 6px; }
QCheckBox:disabled, QRadioButton:disabled { color: @disabledText@; }
QCheckBox::indicator, QRadioButton::indicator { width: 13px; height: 13px; border: 1px solid @indicatorBorder@;
  background: @base@; }
QCheckBox::indicator { border-radius: 3px; }
QRadioButton::indicator { border-radius: 7px; }
QCheckBox::indicator:hover, QRadioButton::indicator:hover { border-color: @focus@; }
QCheckBox::indicator:checked { background: @highlight@; border-color: @highlight@; image: url(:/images/check.svg); }
QRadioButton::indicator:checked { border-color: @focus@; background: qradialgradient(cx:0.5, cy:0.5, radius:0.5,
  fx:0.5, fy:0.5, stop:0 @dot@, stop:0.42 @dot@, stop:0.52 @base@, stop:1 @base@); }
QCheckBox::indicator:disabled, QRadioButton::indicator:disabled { border-color: @disabledBorder@;
  background: @disabledBase@; }
QCheckBox::indicator:checked:disabled { background: @disabledBorder@; }

QGroupBox { color: @windowText@; background: @panel@; border: 1px solid @border@; border-radius: 5px;
  margin-top: 7px; padding-top: 5px; }
QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 8px; padding: 0px 4px;
  color: @heading@; font-weight: bold; }

QTabWidget::pane { background: @panel@; border: 1px solid @border@; border-radius: 4px; top: -1px; }
QTabBar::tab { color: @tabText@; background: @tab@; border: 1px solid @border@; border-bottom: none;
  border-top-left-radius: 4px; border-top-right-radius: 4px; padding: 3px 14px; margin-right: 2px; }
QTabBar::tab:selected { color: @buttonText@; background: @button@; font-weight: bold; }
QTabBar::tab:!selected { margin-top: 2px; }
QTabBar::tab:hover:!selected { background: @tabHover@; }

QProgressBar { color: @progressText@; background: @base@; border: 1px solid @border@; border-radius: 4px;
  text-align: center; font-weight: bold; }
QProgressBar::chunk { background: @chunk@; border-radius: 3px; }

QScrollBar:vertical { background: @base@; width: 12px; margin: 0px; border: none; }
QScrollBar:horizontal { background: @base@; height: 12px; margin: 0px; border: none; }
QScrollBar::handle { background: @scrollHandle@; border-radius: 4px; margin: 2px; }
QScrollBar::handle:vertical { min-height: 20px; }
QScrollBar::handle:horizontal { min-width: 20px; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0px; height: 0px; border: none; background: none; }
QScrollBar::add-page, QScrollBar::sub-page { background: none; }

QMessageBox QLabel { color: @windowText@; }
QMessageBox QPushButton { min-width: 64px; }
)";

struct TColours {
  const char* Window;
  const char* WindowText;
  const char* Base;
  const char* AlternateBase;
  const char* Text;
  const char* Button;
  const char* ButtonText;
  const char* Highlight;
  const char* Link;
  const char* Light;
  const char* Mid;
  const char* Dark;
  const char* Disabled;
  const char* DisabledBase;
};

struct TThemeData {
  const char* Name;
  const char* ImageFolder;  // its own images; the shared ones where it has none
  TColours Colours;
  std::vector<std::pair<const char*, const char*>> Sheet;
};

const std::vector<TThemeData>& Themes() {
  static const std::vector<TThemeData> themes = {
      {"DeepBlue",
       "",
       {"#12356f", "#e6efff", "#0a1d40", "#102a57", "#f0f5ff", "#1f56aa", "#ffffff", "#3b86f0", "#8fc3ff",
        "#4f82d2", "#1a447f", "#061633", "#7f94b8", "#14305e"},
       {
           {"dialog", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #1a4889, stop:1 #0b2252)"},
           {"panel", "rgba(255, 255, 255, 12)"},
           {"tipText", "#ffffff"},
           {"tipBase", "#0b2252"},
           {"windowText", "#e6efff"},
           {"text", "#f0f5ff"},
           {"base", "#0a1d40"},
           {"border", "#3d6bb3"},
           {"indicatorBorder", "#6f9fe6"},
           {"dot", "#8fc3ff"},
           {"focus", "#8fc3ff"},
           {"accent", "#ffb21e"},
           {"highlight", "#3b86f0"},
           {"heading", "#9fcbff"},
           {"link", "#8fc3ff"},
           {"linkHover", "#ffffff"},
           {"separator", "#4f82d2"},
           {"sunkenDark", "#061633"},
           {"sunkenLight", "#4f82d2"},
           {"buttonText", "#ffffff"},
           {"button",
            "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #4488e8, stop:0.5 #2a68c6, stop:0.51 #2259b2, "
            "stop:1 #1c4b98)"},
           {"buttonHover",
            "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #5c9cf5, stop:0.5 #3a7ad8, stop:0.51 #2f69c4, "
            "stop:1 #2559a8)"},
           {"buttonPressed", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #173f80, stop:1 #245ab0)"},
           {"buttonBorder", "#0a2458"},
           {"disabledText", "#7f94b8"},
           {"disabledBase", "#14305e"},
           {"disabledBorder", "#28477c"},
           {"flatText", "#d6e6ff"},
           {"flatHoverText", "#ffffff"},
           {"flatHover", "rgba(255, 255, 255, 28)"},
           {"flatHoverBorder", "rgba(160, 200, 255, 90)"},
           {"flatPressed", "rgba(0, 0, 0, 50)"},
           {"dropDown", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2f6fd0, stop:1 #1c4b98)"},
           {"arrow", ":/images/arrow-down.svg"},
           {"itemHover", "rgba(255, 255, 255, 20)"},
           {"tabText", "#cfe0ff"},
           {"tab", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #1d4c9a, stop:1 #133a78)"},
           {"tabHover", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2a64c0, stop:1 #1a4689)"},
           {"progressText", "#ffffff"},
           {"chunk",
            "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #7cc0ff, stop:0.5 #3d8cec, stop:0.51 #2f7de1, "
            "stop:1 #1d5fc4)"},
           {"scrollHandle", "#3d6bb3"},
       }},
      {"BlueGlass",
       "blueglass/",
       {"#e4effd", "#10315f", "#ffffff", "#eef5ff", "#10315f", "#d6e7fc", "#0f3a7a", "#3f82de", "#1a5fd0",
        "#ffffff", "#a9c6ec", "#6f8fbf", "#8a9bb5", "#eaf0f8"},
       {
           {"dialog", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f6faff, stop:1 #d3e5fb)"},
           {"panel", "rgba(255, 255, 255, 120)"},
           {"tipText", "#10315f"},
           {"tipBase", "#f6faff"},
           {"windowText", "#10315f"},
           {"text", "#10315f"},
           {"base", "#ffffff"},
           {"border", "#8fb4e6"},
           {"indicatorBorder", "#6f9fdc"},
           {"dot", "#2c6fcf"},
           {"focus", "#3f82de"},
           {"accent", "#2c6fcf"},
           {"highlight", "#3f82de"},
           {"heading", "#1d4f9c"},
           {"link", "#1a5fd0"},
           {"linkHover", "#0b3a8c"},
           {"separator", "#7fa9e2"},
           {"sunkenDark", "#8fa8cc"},
           {"sunkenLight", "#ffffff"},
           {"buttonText", "#0f3a7a"},
           {"button",
            "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:0.49 #e6f1ff, stop:0.5 #cde1fb, "
            "stop:1 #b8d4f8)"},
           {"buttonHover",
            "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:0.49 #eef6ff, stop:0.5 #d9e9fd, "
            "stop:1 #c4dcfb)"},
           {"buttonPressed", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #a9c9f2, stop:1 #cfe2fb)"},
           {"buttonBorder", "#6f9fdc"},
           {"disabledText", "#8a9bb5"},
           {"disabledBase", "#eaf0f8"},
           {"disabledBorder", "#c2d2e8"},
           {"flatText", "#123e80"},
           {"flatHoverText", "#0a2e66"},
           {"flatHover", "rgba(255, 255, 255, 150)"},
           {"flatHoverBorder", "rgba(63, 130, 222, 120)"},
           {"flatPressed", "rgba(63, 130, 222, 70)"},
           {"dropDown", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #cde1fb)"},
           {"arrow", ":/images/blueglass/arrow-down.svg"},
           {"itemHover", "#e3eefd"},
           {"tabText", "#2a5698"},
           {"tab", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #eef5ff, stop:1 #d6e6fb)"},
           {"tabHover", "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #e3eefd)"},
           {"progressText", "#0a2e66"},
           {"chunk",
            "qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #cfe6ff, stop:0.5 #8dc0f7, stop:0.51 #6eaaf0, "
            "stop:1 #8fc2f7)"},
           {"scrollHandle", "#a9c6ec"},
       }},
  };
  return themes;
}

const TThemeData* FindTheme(const QString& name) {
  for (const TThemeData& theme : Themes())
    if (name == QLatin1String(theme.Name)) return &theme;
  return nullptr;
}

QString Current;  // the applied style; empty until ApplyTheme

const TThemeData& CurrentData() {
  const TThemeData* theme = FindTheme(CurrentTheme());
  return theme ? *theme : Themes().front();
}

QString StyleSheetOf(const TThemeData& theme) {
  QString sheet = QString::fromLatin1(kSheet);
  for (const auto& [key, value] : theme.Sheet)
    sheet.replace(QLatin1Char('@') + QLatin1String(key) + QLatin1Char('@'), QLatin1String(value));
  return sheet;
}

QPalette PaletteOf(const TThemeData& theme) {
  const TColours& c = theme.Colours;
  QPalette palette;
  auto set = [&](QPalette::ColorRole role, const char* colour) { palette.setColor(role, QColor(colour)); };
  set(QPalette::Window, c.Window);
  set(QPalette::WindowText, c.WindowText);
  set(QPalette::Base, c.Base);
  set(QPalette::AlternateBase, c.AlternateBase);
  set(QPalette::Text, c.Text);
  set(QPalette::Button, c.Button);
  set(QPalette::ButtonText, c.ButtonText);
  set(QPalette::BrightText, "#ffffff");
  set(QPalette::Highlight, c.Highlight);
  set(QPalette::HighlightedText, "#ffffff");
  set(QPalette::Link, c.Link);
  set(QPalette::LinkVisited, c.Link);
  set(QPalette::Light, c.Light);
  set(QPalette::Midlight, c.Mid);
  set(QPalette::Mid, c.Mid);
  set(QPalette::Dark, c.Dark);
  set(QPalette::Shadow, c.Dark);
  set(QPalette::ToolTipBase, c.Window);
  set(QPalette::ToolTipText, c.WindowText);
  set(QPalette::PlaceholderText, c.Disabled);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(QPalette::Disabled, role, QColor(c.Disabled));
  palette.setColor(QPalette::Disabled, QPalette::Base, QColor(c.DisabledBase));
  return palette;
}

}  // namespace

QStringList ThemeNames() {
  QStringList names;
  for (const TThemeData& theme : Themes()) names << QString::fromLatin1(theme.Name);
  return names;
}

bool ApplyTheme(QApplication& app, const QString& name) {
  const TThemeData* theme = FindTheme(name);
  if (!theme) return false;
  Current = name;
  // Fusion draws what the sheet leaves alone (check marks, radio dots, slider and its ticks)
  // in the palette's colours, the same on every desktop.
  app.setStyle(QStringLiteral("Fusion"));
  app.setPalette(PaletteOf(*theme));
  // The windows' fixed sizes were laid out for a small 8-point font.
  QFont font = QApplication::font();
  font.setPointSize(8);
  app.setFont(font);
  app.setStyleSheet(StyleSheetOf(*theme));
  app.setWindowIcon(ProgramIcon());
  return true;
}

QString CurrentTheme() { return Current.isEmpty() ? QString::fromLatin1(kDefaultTheme) : Current; }

QPixmap ThemePixmap(const QString& name, const QSize& size) {
  if (size.isEmpty()) return {};
  const QString own = QStringLiteral(":/images/") + QLatin1String(CurrentData().ImageFolder) + name + ".svg";
  const QString shared = QStringLiteral(":/images/") + name + ".svg";
  const QString path = QFile::exists(own) ? own : shared;
  if (!QFile::exists(path)) return {};
  QSvgRenderer renderer(path);
  if (!renderer.isValid()) return {};
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(ThemePixmap(QStringLiteral("icon"), QSize(side, side)));
  return icon;
}

}  // namespace melvanto::gui
