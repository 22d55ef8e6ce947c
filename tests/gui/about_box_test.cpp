// The about box: its texts, the two links that open the maker's pages, and OK.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include "about_box.h"
#include "fake_dialogs.h"
#include "product.h"
#include "program_version.h"

namespace melvanto::testing {
namespace {

using gui::TfrmAbout;

TEST(AboutBox, ShowsTheProductAndMakerTexts) {
  TfrmAbout about(nullptr);
  EXPECT_EQ(about.windowTitle(), "About Melvanto");
  EXPECT_EQ(about.minimumSize().width(), 360);
  EXPECT_GT(about.minimumSize().height(), 255) << "taller than before the libraries were listed";
  EXPECT_EQ(about.maximumSize(), about.minimumSize()) << "a fixed dialog border";
  EXPECT_TRUE(about.Label1->text().isEmpty()) << "the name is set when shown";
  about.show();
  EXPECT_EQ(about.Label1->text(), "Melvanto");
  // The program's own version and build day, which melvanto-cli --version shows too.
  EXPECT_EQ(about.Label2->text(), QStringLiteral("Version: %1   Build %2").arg(ProgramVersion(), BuildDate()));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^Version: \\d+\\.\\d+   Build 20\\d{6}$")).match(about.Label2->text()).hasMatch())
      << about.Label2->text().toStdString();
  EXPECT_EQ(about.Label4->text(),
            "If you like it, please feel free to donate, any donations\nlarge or small are greatly appreciated.");
  EXPECT_EQ(about.lCopywrite->text(), QString::fromUtf8(gui::kCopyright));
  EXPECT_TRUE(about.Label3->text().contains(QString::fromUtf8(gui::kSupportEmail)));
  EXPECT_EQ(about.lbEAddress->text(), QString::fromUtf8(gui::kMakerAddress));
  EXPECT_EQ(about.bOK->text(), "&OK");
  about.close();
}

TEST(AboutBox, ControlsKeepTheirPlacesAndFitTheWindow) {
  TfrmAbout about(nullptr);
  about.show();
  EXPECT_EQ(about.Image2->geometry(), QRect(0, 0, 360, 50)) << "the banner spans the top";
  EXPECT_EQ(about.Image1->size(), QSize(32, 32));
  EXPECT_LT(about.Image1->x(), about.Label1->x()) << "the icon stands left of the name";
  EXPECT_GT(about.Image3->x(), about.Label1->x()) << "the donate button stands right of the name";
  EXPECT_FALSE(about.Image1->pixmap().isNull());
  EXPECT_FALSE(about.Image2->pixmap().isNull());
  EXPECT_FALSE(about.Image3->pixmap().isNull());
  const QRect client(QPoint(0, 0), about.size());
  for (QWidget* control : about.findChildren<QWidget*>()) {
    if (control->isWindow() || !control->isVisible()) continue;
    EXPECT_TRUE(client.contains(control->geometry())) << control->objectName().toStdString();
  }
  // The longest line must not be cut off by its label.
  const QFontMetrics metrics(about.Label4->font());
  for (const QString& line : about.Label4->text().split('\n'))
    EXPECT_LE(metrics.horizontalAdvance(line), about.Label4->width()) << line.toStdString();
  about.close();
}

TEST(AboutBox, NamesTheLicenceAndEachLibraryWithItsVersionAndLicence) {
  TfrmAbout about(nullptr);
  about.show();
  EXPECT_EQ(about.lLicence->text(), "Free software under the GNU GPL 3 or later.");
  EXPECT_EQ(about.lLibrariesTitle->text(), "Libraries");
  const QStringList lines = about.lLibraries->text().split('\n');
  ASSERT_EQ(lines.size(), 4) << about.lLibraries->text().toStdString();
  // Versions as loaded (LAME and TagLib are installed here); FFmpeg's licence depends on how
  // it was built, so both are named.
  const char* expected[] = {
      R"(LAME \d+\.\d+\S*: LGPL 2)",
      R"(FFmpeg \S+ \(libavcodec [\d.]+, libavformat [\d.]+\): LGPL 2\.1 or later; GPL 2 or later as Debian builds it)",
      R"(TagLib libtag\.so\.\d+(\.\d+)*: LGPL 2\.1 / MPL 1\.1)",
  };
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^%1$").arg(QLatin1String(expected[i]))).match(lines[i]).hasMatch())
        << lines[i].toStdString();
  EXPECT_EQ(lines[3], QStringLiteral("Qt %1: LGPL 3").arg(QLatin1String(qVersion())));
  EXPECT_EQ(about.lLibraries->textFormat(), Qt::PlainText) << "a version is text from a library, not markup";

  // Every line shows whole: the label is as tall as its wrapped text, and the line and the
  // links sit below it.
  EXPECT_GE(about.lLibraries->height(), about.lLibraries->heightForWidth(about.lLibraries->width()));
  EXPECT_GT(about.Panel2->y(), about.lLibraries->geometry().bottom());
  EXPECT_GT(about.lLicence->y(), about.Label3->geometry().bottom());
  EXPECT_GT(about.lLibrariesTitle->y(), about.lLicence->geometry().bottom());
  about.close();
}

TEST(AboutBox, LinksLookLikeLinks) {
  TfrmAbout about(nullptr);
  EXPECT_EQ(about.lbEAddress->property("role").toString(), "link");
  EXPECT_TRUE(about.lbEAddress->font().underline());
  EXPECT_EQ(about.lbEAddress->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(about.Image3->cursor().shape(), Qt::PointingHandCursor);
  // Blue: more blue than red in the link's colour as drawn.
  about.show();
  const QColor colour = about.lbEAddress->palette().color(QPalette::WindowText);
  EXPECT_GT(colour.blue(), colour.red()) << colour.name().toStdString();
  about.close();
}

TEST(AboutBox, ClicksOpenTheHomeAndDonationPages) {
  FakeDialogs dialogs;
  TfrmAbout about(nullptr);
  about.show();
  QTest::mouseClick(about.lbEAddress, Qt::LeftButton);
  ASSERT_EQ(dialogs.Urls.size(), 1u);
  EXPECT_EQ(dialogs.Urls[0], QUrl(QString::fromUtf8(gui::kHomePage)));
  QTest::mouseClick(about.Image3, Qt::LeftButton);
  ASSERT_EQ(dialogs.Urls.size(), 2u);
  EXPECT_EQ(dialogs.Urls[1], QUrl(QString::fromUtf8(gui::kDonatePage)));
  EXPECT_TRUE(about.isVisible()) << "opening a page leaves the box open";

  // Not clicks: the right button, and a press released away from the link.
  QTest::mouseClick(about.lbEAddress, Qt::RightButton);
  QTest::mouseClick(about.Image2, Qt::LeftButton);
  QTest::mousePress(about.Image3, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseRelease(about.Image3, Qt::LeftButton, {}, QPoint(-20, 40));
  EXPECT_EQ(dialogs.Urls.size(), 2u);
  EXPECT_TRUE(dialogs.Messages.empty());
  about.close();
}

TEST(AboutBox, OkClosesWithTheOkResult) {
  FakeDialogs dialogs;
  TfrmAbout about(nullptr);
  // Clicked from inside the modal loop, as a user would.
  dialogs.OnExec = [&](QDialog& dialog) {
    QMetaObject::invokeMethod(
        &dialog, [&] { QTest::mouseClick(about.bOK, Qt::LeftButton); }, Qt::QueuedConnection);
    return dialog.exec();
  };
  EXPECT_EQ(gui::Dialogs().Exec(about), QDialog::Accepted);
  EXPECT_FALSE(about.isVisible());
  ASSERT_EQ(dialogs.Executed.size(), 1u);
  EXPECT_TRUE(dialogs.Urls.empty());
}

TEST(AboutBox, EnterIsOkAndEscapeIsNot) {
  TfrmAbout enter(nullptr);
  enter.show();
  QTest::keyClick(&enter, Qt::Key_Return);
  EXPECT_EQ(enter.result(), QDialog::Accepted);
  EXPECT_FALSE(enter.isVisible());

  TfrmAbout escape(nullptr);
  escape.show();
  QTest::keyClick(&escape, Qt::Key_Escape);
  EXPECT_EQ(escape.result(), QDialog::Rejected);
  EXPECT_FALSE(escape.isVisible());
}

TEST(AboutBox, SitsCentredOnItsOwner) {
  QWidget owner;
  owner.setGeometry(100, 120, 600, 500);
  owner.show();
  TfrmAbout about(&owner);
  about.show();
  const QPoint offset = about.frameGeometry().center() - owner.frameGeometry().center();
  EXPECT_LE(offset.manhattanLength(), 4) << offset.x() << "," << offset.y();
  about.close();
}

}  // namespace
}  // namespace melvanto::testing
