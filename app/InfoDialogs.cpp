#include "app/InfoDialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>

#ifdef Q_OS_WIN
#include <windows.h>
#pragma comment(lib, "version")
#endif

#include "link/Ui.h"
#include "link/VersionRecord.h"

namespace {

// Client areas of the forms.
constexpr QSize kGuageSize(333, 125);
constexpr QSize kConfirmSize(313, 190);
constexpr QSize kConfErrSize(366, 245);
constexpr QSize kAboutSize(305, 278);
constexpr QSize kButtonSize(75, 25);

constexpr int kConfirmHeadlineFontPx = 96;
constexpr int kConfirmLabelFontPx = 16;
constexpr int kMemoFontPx = 12;
constexpr int kIconPx = 64;
constexpr QSize kStripSize(300, 60);

const QColor kMaroon(128, 0, 0);

const char* const kConfErrLines[] = {
    "書き込みに失敗した場合",
    "　・上のチェックボックスにチェックをいれる",
    "　・R/Wの電源を入れ直す",
    "　・再度書き込みを行う",
    "",
    "ベリファイに失敗した場合",
    "　・上のチェックボックスにチェックをいれない",
    "　・R/Wの電源を入れ直す",
    "　・再度書き込みを行う",
};

void SetClientSize(QDialog* dlg, QSize size) {
  dlg->setFixedSize(size);
}

QFont PixelFont(const char* family, int px) {
  QFont f(QString::fromUtf8(family));
  f.setPixelSize(px);
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  return f;
}

void SetTextColor(QWidget* w, const QColor& color) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, color);
  p.setColor(QPalette::Text, color);
  p.setColor(QPalette::ButtonText, color);
  w->setPalette(p);
}

QPushButton* Button(QWidget* parent, const char* name, const char* text, QPoint at) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(QRect(at, kButtonSize));
  return b;
}

// The program icon: a chip with the firmware arrow.
QPixmap ProgramPicture() {
  QPixmap pm(kIconPx, kIconPx);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(30, 90, 190));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
  p.setPen(Qt::white);
  QFont f;
  f.setPixelSize(20);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(0, 0, kIconPx, kIconPx), Qt::AlignCenter, QStringLiteral("QVX"));
  return pm;
}

// The picture strip at the bottom of the version window.
QPixmap StripPicture() {
  QPixmap pm(kStripSize);
  QPainter p(&pm);
  QLinearGradient g(0, 0, kStripSize.width(), 0);
  g.setColorAt(0, QColor(20, 60, 140));
  g.setColorAt(1, QColor(120, 180, 240));
  p.fillRect(pm.rect(), g);
  p.setPen(Qt::white);
  QFont f;
  f.setPixelSize(18);
  f.setItalic(true);
  p.setFont(f);
  p.drawText(pm.rect().adjusted(12, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
             QStringLiteral("QVX-K417 RFID Reader/Writer"));
  return pm;
}

}  // namespace

// ---- TGuage1Dlg ---------------------------------------------------------

TGuage1Dlg::TGuage1Dlg(QWidget* owner) : QDialog(owner) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setWindowTitle(QStringLiteral("変換実行中"));
  SetClientSize(this, kGuageSize);

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setGeometry(QRect(QPoint(0, 0), kGuageSize));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

  Label1 = new QLabel(Panel1);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(10, 15, 313, 25);
  Label1->setAlignment(Qt::AlignCenter);

  Panel2 = new QFrame(Panel1);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setGeometry(10, 48, 313, 24);
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  ProgressBar1 = new QProgressBar(Panel2);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setGeometry(2, 2, 309, 20);

  Button1 = Button(Panel1, "Button1", "&Cancel", QPoint(129, 88));

  // Shown from its creation on.
  show();
}

void TGuage1Dlg::SetAlwaysOnTop() {
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  show();
}

// ---- TConfirm1Dlg -------------------------------------------------------

TConfirm1Dlg::TConfirm1Dlg(QWidget* owner) : QDialog(owner) {
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  setWindowTitle(QStringLiteral("マイコンへの書き込み"));
  SetClientSize(this, kConfirmSize);
  SetTextColor(this, Qt::blue);

  Label1 = new QLabel(QStringLiteral("OK"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(8, 4, 297, 97);
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setFont(PixelFont(kGothicFontFamily, kConfirmHeadlineFontPx));
  SetTextColor(Label1, Qt::blue);

  Label2 = new QLabel(QStringLiteral("Label2"), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(8, 108, 297, 32);
  Label2->setAlignment(Qt::AlignCenter);
  QFont f = font();
  f.setPixelSize(kConfirmLabelFontPx);
  Label2->setFont(f);
  SetTextColor(Label2, kMaroon);

  OKBtn = Button(this, "OKBtn", "確認", QPoint(119, 152));
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, &TConfirm1Dlg::OKBtnClick);

  FWaitFlag = 1;
}

void TConfirm1Dlg::OKBtnClick() {
  FWaitFlag = 0;
}

void TConfirm1Dlg::reject() {
  // Escape is a request to close like the title-bar button.
  FWaitFlag = 0;
  QDialog::reject();
}

void TConfirm1Dlg::showEvent(QShowEvent* event) {
  FWaitFlag = 1;
  QDialog::showEvent(event);
}

void TConfirm1Dlg::closeEvent(QCloseEvent* event) {
  FWaitFlag = 0;
  event->accept();
}

// ---- TConfErrDlg --------------------------------------------------------

TConfErrDlg::TConfErrDlg(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QStringLiteral("書き込みエラー時の設定"));
  SetClientSize(this, kConfErrSize);

  CBReWrite = new QCheckBox(QStringLiteral("再書き込みを行う"), this);
  CBReWrite->setObjectName(QStringLiteral("CBReWrite"));
  CBReWrite->setGeometry(16, 10, 250, 22);
  SetTextColor(CBReWrite, Qt::blue);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(16, 38, 334, 162);
  Memo1->setReadOnly(true);
  Memo1->setFont(PixelFont(kGothicFontFamily, kMemoFontPx));
  QPalette p = Memo1->palette();
  p.setColor(QPalette::Base, p.color(QPalette::Button));
  Memo1->setPalette(p);
  QStringList lines;
  for (const char* line : kConfErrLines) lines << QString::fromUtf8(line);
  Memo1->setPlainText(lines.join(QLatin1Char('\n')));

  OKBtn = Button(this, "OKBtn", "設定", QPoint(190, 210));
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, [this] { done(kModalOk); });
  CancelBtn = Button(this, "CancelBtn", "キャンセル", QPoint(275, 210));
  connect(CancelBtn, &QPushButton::clicked, this, &TConfErrDlg::reject);
}

void TConfErrDlg::reject() {
  done(kModalCancel);
}

bool RunReWriteSetting(QWidget* owner, int32_t& reWriteMode) {
  TConfErrDlg dlg(owner);
  dlg.CBReWrite->setChecked(reWriteMode != 0);
  if (dlg.exec() != kModalOk) return false;
  reWriteMode = dlg.CBReWrite->isChecked() ? 1 : 0;
  return true;
}

// ---- version record and TAboutBox ---------------------------------------

std::vector<uint8_t> ReadProgramVersionRecord() {
#ifdef Q_OS_WIN
  const std::wstring path =
      QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toStdWString();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return {};
  std::vector<uint8_t> record(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, record.data())) return {};
  return record;
#else
  return EmbeddedVersionRecord();
#endif
}

std::string GetVersionInfoItem(unsigned item) {
  return VersionInfoItemFrom(ReadProgramVersionRecord(), item);
}

TAboutBox::TAboutBox(QWidget* owner) : QDialog(owner) {
  Build(ReadProgramVersionRecord());
}

TAboutBox::TAboutBox(QWidget* owner, const std::vector<uint8_t>& record) : QDialog(owner) {
  Build(record);
}

void TAboutBox::Build(const std::vector<uint8_t>& record) {
  setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
  SetClientSize(this, kAboutSize);

  auto* panel = new QFrame(this);
  panel->setGeometry(2, 2, 301, 238);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);

  ProgramIcon = new QLabel(panel);
  ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
  ProgramIcon->setGeometry(8, 8, kIconPx, kIconPx);
  ProgramIcon->setPixmap(ProgramPicture());

  auto item = [&record](unsigned code) {
    return QString::fromStdString(VersionInfoItemFrom(record, code));
  };

  ProductName = new QLabel(item(7), panel);
  ProductName->setObjectName(QStringLiteral("ProductName"));
  ProductName->setGeometry(88, 12, 200, 20);
  QFont bold = ProductName->font();
  bold.setBold(true);
  bold.setItalic(true);
  ProductName->setFont(bold);
  SetTextColor(ProductName, Qt::blue);

  Version = new QLabel(QStringLiteral("     Version ") + item(2), panel);
  Version->setObjectName(QStringLiteral("Version"));
  Version->setGeometry(88, 40, 200, 20);

  Copyright = new QLabel(item(4), panel);
  Copyright->setObjectName(QStringLiteral("Copyright"));
  Copyright->setGeometry(8, 84, 280, 20);

  Comments = new QLabel(item(1), panel);
  Comments->setObjectName(QStringLiteral("Comments"));
  Comments->setGeometry(8, 108, 280, 40);
  Comments->setWordWrap(true);

  Image1 = new QLabel(panel);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(QRect(QPoint(0, 238 - kStripSize.height() - 2), kStripSize));
  Image1->setPixmap(StripPicture());

  OKButton = Button(this, "OKButton", "OK", QPoint(115, 246));
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, [this] { done(kModalOk); });
}
