#include "tag_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "dialogs.h"
#include "id3.h"
#include "product.h"
#include "settings.h"

namespace melvanto::gui {

namespace {

// The ID3v1 record's field sizes; the track shares the comment's last two bytes.
constexpr int kTextLimit = static_cast<int>(id3v1::kTextLength);
constexpr int kYearLimit = static_cast<int>(id3v1::kYearLength);
constexpr int kTrackLimit = 2;

// The limit holds for typing; a longer current value (a long file name, a source file's own
// tags) is shown and kept whole, as cutting it would lose it from the output.
QLineEdit* NewEdit(QWidget* parent, const char* name, int limit, const std::u16string& value) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  const QString text = QString::fromStdU16String(value);
  edit->setMaxLength(std::max(limit, static_cast<int>(text.size())));
  edit->setText(text);
  return edit;
}

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setBuddy(buddy);
  return label;
}

}  // namespace

TfrmTagEditor::TfrmTagEditor(QWidget* owner, TTagInfo& tags, TOptionsSetting& settings)
    : QDialog(owner), TagInfo_(tags), OptionsSetting_(settings) {
  setObjectName(QStringLiteral("frmTagEditor"));
  setWindowTitle(QStringLiteral("Tag Editor"));
  setFixedSize(433, 240);

  GroupBox1 = new QGroupBox(QStringLiteral("ID3 Tag"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));

  ID3title = NewEdit(GroupBox1, "ID3title", kTextLimit, TagInfo_.Title);
  ID3artist = NewEdit(GroupBox1, "ID3artist", kTextLimit, TagInfo_.Artist);
  ID3album = NewEdit(GroupBox1, "ID3album", kTextLimit, TagInfo_.Album);
  ID3year = NewEdit(GroupBox1, "ID3year", kYearLimit, TagInfo_.Year);
  ID3genre = new QComboBox(GroupBox1);
  ID3genre->setObjectName(QStringLiteral("ID3genre"));
  ID3genre->setEditable(false);
  ID3genre->setMaxVisibleItems(16);
  for (std::string_view genre : kDisplayGenres)
    ID3genre->addItem(QString::fromUtf8(genre.data(), static_cast<qsizetype>(genre.size())));
  // -1 or a position past the list leaves nothing selected.
  ID3genre->setCurrentIndex(TagInfo_.Genre >= 0 && TagInfo_.Genre < ID3genre->count() ? TagInfo_.Genre : -1);
  ID3comment = NewEdit(GroupBox1, "ID3comment", kTextLimit, TagInfo_.Comment);
  ID3track = NewEdit(GroupBox1, "ID3track", kTrackLimit, TagInfo_.Track);

  lTitle = NewLabel(GroupBox1, "lTitle", QStringLiteral("Title:"), ID3title);
  auto* lArtist = NewLabel(GroupBox1, "lArtist", QStringLiteral("Artist:"), ID3artist);
  auto* lAlbum = NewLabel(GroupBox1, "lAlbum", QStringLiteral("Album:"), ID3album);
  auto* lComment = NewLabel(GroupBox1, "lComment", QStringLiteral("Comment:"), ID3comment);
  auto* lGenre = NewLabel(GroupBox1, "lGenre", QStringLiteral("Genre:"), ID3genre);
  auto* lYear = NewLabel(GroupBox1, "lYear", QStringLiteral("Year:"), ID3year);
  auto* lTrack = NewLabel(GroupBox1, "lTrack", QStringLiteral("Track #:"), ID3track);

  // Left column: title, artist, album, comment; right column: genre, year, track.
  auto* grid = new QGridLayout(GroupBox1);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(6);
  grid->addWidget(lTitle, 0, 0);
  grid->addWidget(ID3title, 0, 1);
  grid->addWidget(lArtist, 1, 0);
  grid->addWidget(ID3artist, 1, 1);
  grid->addWidget(lAlbum, 2, 0);
  grid->addWidget(ID3album, 2, 1);
  grid->addWidget(lComment, 3, 0);
  grid->addWidget(ID3comment, 3, 1);
  grid->addWidget(lGenre, 0, 3);
  grid->addWidget(ID3genre, 0, 4);
  grid->addWidget(lYear, 1, 3);
  grid->addWidget(ID3year, 1, 4, Qt::AlignLeft);
  grid->addWidget(lTrack, 2, 3);
  grid->addWidget(ID3track, 2, 4, Qt::AlignLeft);
  grid->setColumnMinimumWidth(2, 8);
  grid->setColumnStretch(1, 1);
  // Sized to what the fields hold, so the text fields on the left get the room.
  ID3genre->setFixedWidth(140);
  ID3year->setFixedWidth(56);
  ID3track->setFixedWidth(40);

  cbShowTagEditor = new QCheckBox(QStringLiteral("Don't show this dialog next time"), this);
  cbShowTagEditor->setObjectName(QStringLiteral("cbShowTagEditor"));
  cbShowTagEditor->setChecked(false);

  btOk = new QPushButton(QStringLiteral("&Start"), this);
  btOk->setObjectName(QStringLiteral("btOk"));
  btOk->setDefault(true);
  btCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  btCancel->setObjectName(QStringLiteral("btCancel"));

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(cbShowTagEditor);
  bottom->addStretch(1);
  bottom->addWidget(btOk);
  bottom->addWidget(btCancel);

  auto* main = new QVBoxLayout(this);
  main->setContentsMargins(10, 10, 10, 10);
  main->addWidget(GroupBox1);
  main->addLayout(bottom);

  setTabOrder(ID3title, ID3artist);
  setTabOrder(ID3artist, ID3album);
  setTabOrder(ID3album, ID3year);
  setTabOrder(ID3year, ID3genre);
  setTabOrder(ID3genre, ID3comment);
  setTabOrder(ID3comment, ID3track);
  setTabOrder(ID3track, cbShowTagEditor);
  setTabOrder(cbShowTagEditor, btOk);
  setTabOrder(btOk, btCancel);

  connect(btOk, &QPushButton::clicked, this, [this] {
    try {
      btOkClick();
    } catch (const std::exception& error) {
      Dialogs().ShowMessage(this, QString::fromLatin1(kProductName), QString::fromUtf8(error.what()),
                            QMessageBox::Critical);
    }
  });
  connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmTagEditor::btOkClick() {
  // The main window disables the title for a batch of several files: one title cannot fit them.
  if (ID3title->isEnabled()) TagInfo_.Title = ID3title->text().toStdU16String();
  TagInfo_.Artist = ID3artist->text().toStdU16String();
  TagInfo_.Album = ID3album->text().toStdU16String();
  TagInfo_.Year = ID3year->text().toStdU16String();
  TagInfo_.Genre = ID3genre->currentIndex();
  TagInfo_.Track = ID3track->text().toStdU16String();
  TagInfo_.Comment = ID3comment->text().toStdU16String();
  OptionsSetting_.CommonOptions.IsShowTagEditor = !cbShowTagEditor->isChecked();
  accept();
}

}  // namespace melvanto::gui
