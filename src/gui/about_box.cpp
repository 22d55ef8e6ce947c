#include "about_box.h"

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStringList>
#include <QtGlobal>
#include <QUrl>

#include "dialogs.h"
#include "library_versions.h"
#include "product.h"
#include "program_version.h"
#include "theme.h"

namespace melvanto::gui {

namespace {

QLabel* MakeLabel(QWidget* owner, const char* name, const QString& text, const QRect& geometry) {
  auto* label = new QLabel(text, owner);
  label->setObjectName(QLatin1String(name));
  label->setGeometry(geometry);
  return label;
}

QLabel* MakePicture(QWidget* owner, const char* name, const QString& image, const QRect& geometry) {
  QLabel* picture = MakeLabel(owner, name, QString(), geometry);
  picture->setPixmap(ThemePixmap(image, geometry.size()));
  return picture;
}

// A click is a release of the left button over the control that took the press.
bool IsClick(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::MouseButtonRelease) return false;
  const auto* mouse = static_cast<QMouseEvent*>(event);
  const auto* widget = static_cast<QWidget*>(watched);
  return mouse->button() == Qt::LeftButton && widget->rect().contains(mouse->position().toPoint());
}

// One line per library: name, version as loaded, licence.
QString LibrariesText() {
  std::vector<TLibraryVersion> libraries = LibraryVersions();
  libraries.push_back({"Qt", qVersion(), "LGPL 3"});
  QStringList lines;
  for (const TLibraryVersion& library : libraries)
    lines << QStringLiteral("%1 %2: %3")
                 .arg(QString::fromStdString(library.Name), QString::fromStdString(library.Version),
                      QString::fromStdString(library.Licence));
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

TfrmAbout::TfrmAbout(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About Melvanto"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  Image2 = MakePicture(this, "Image2", QStringLiteral("banner"), QRect(0, 0, 360, 50));
  Image1 = MakePicture(this, "Image1", QStringLiteral("icon"), QRect(16, 62, 32, 32));

  Label1 = MakeLabel(this, "Label1", QString(), QRect(58, 60, 180, 20));
  QFont nameFont = Label1->font();
  nameFont.setPointSize(11);
  nameFont.setBold(true);
  Label1->setFont(nameFont);
  Label2 = MakeLabel(this, "Label2", QStringLiteral("Version: %1   Build %2").arg(QString::fromLatin1(ProgramVersion()), QString::fromLatin1(BuildDate())), QRect(58, 80, 190, 16));

  Image3 = MakePicture(this, "Image3", QStringLiteral("donate"), QRect(258, 64, 86, 28));
  Image3->setCursor(Qt::PointingHandCursor);
  Image3->setToolTip(QStringLiteral("Donate"));
  Image3->installEventFilter(this);

  lCopywrite = MakeLabel(this, "lCopywrite", QString::fromUtf8(kCopyright), QRect(16, 106, 328, 16));
  Label4 = MakeLabel(this, "Label4",
                     QStringLiteral("If you like it, please feel free to donate, any donations\n"
                                    "large or small are greatly appreciated."),
                     QRect(16, 128, 336, 32));
  Label3 = MakeLabel(this, "Label3", QStringLiteral("E-mail: ") + QString::fromUtf8(kSupportEmail),
                     QRect(16, 164, 328, 16));
  Label3->setTextInteractionFlags(Qt::TextSelectableByMouse);

  lLicence = MakeLabel(this, "lLicence",
                       QStringLiteral("Free software under the GNU %1.").arg(QString::fromLatin1(ProgramLicence())),
                       QRect(16, 186, 328, 16));
  lLibrariesTitle = MakeLabel(this, "lLibrariesTitle", QStringLiteral("Libraries"), QRect(16, 210, 328, 16));
  lLibrariesTitle->setProperty("role", QStringLiteral("heading"));
  // Versions come from the libraries themselves: shown as text, never as markup.
  lLibraries = MakeLabel(this, "lLibraries", LibrariesText(), QRect());
  lLibraries->setTextFormat(Qt::PlainText);
  lLibraries->setWordWrap(true);
  lLibraries->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lLibraries->setGeometry(16, 228, 328, lLibraries->heightForWidth(328));
  // What follows moves down by however many lines the libraries took.
  const int below = lLibraries->geometry().bottom() + 1 + 10;

  Panel2 = new QFrame(this);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameShape(QFrame::HLine);
  Panel2->setFrameShadow(QFrame::Sunken);
  Panel2->setGeometry(16, below, 328, 2);

  lbEAddress = MakeLabel(this, "lbEAddress", QString::fromUtf8(kMakerAddress), QRect(16, below + 32, 200, 18));
  lbEAddress->setProperty("role", QStringLiteral("link"));
  // The sheet colours links; the font carries the underline so it shows in every style.
  QFont linkFont = lbEAddress->font();
  linkFont.setUnderline(true);
  lbEAddress->setFont(linkFont);
  lbEAddress->setCursor(Qt::PointingHandCursor);
  lbEAddress->setToolTip(QString::fromUtf8(kHomePage));
  lbEAddress->installEventFilter(this);

  bOK = new QPushButton(QStringLiteral("&OK"), this);
  bOK->setObjectName(QStringLiteral("bOK"));
  bOK->setGeometry(269, below + 26, 75, 25);
  bOK->setDefault(true);
  setFixedSize(360, below + 65);
  connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmAbout::showEvent(QShowEvent* event) {
  Label1->setText(QString::fromUtf8(kProductName));
  QDialog::showEvent(event);
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == lbEAddress || watched == Image3) && IsClick(watched, event)) {
    // The shell's answer is not looked at: without a browser nothing happens.
    Dialogs().OpenUrl(QUrl(QString::fromUtf8(watched == lbEAddress ? kHomePage : kDonatePage)));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace melvanto::gui
