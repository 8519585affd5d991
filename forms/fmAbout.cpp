#include "forms/fmAbout.h"

#include "settings/Branding.h"
#include "uikit/DesignFont.h"
#include "uikit/Glyphs.h"
#include "settings/RunContext.h"
#include "cfw_version.h"

#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace {

QLabel* MakePicture(QWidget* parent, const QString& name, const QString& resource, QRect geometry) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setAttribute(Qt::WA_TranslucentBackground);
  label->setPixmap(Glyphs::Render(resource));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QPoint at, int width = -1) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->move(at);
  if (width > 0) label->setFixedWidth(width);
  else label->adjustSize();
  return label;
}

}  // namespace

QString ExecutableFileVersion() { return QStringLiteral(CFW_FILE_VERSION); }

TfrmAbout::TfrmAbout(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About Orvane"));
  resize(379, 172);  // an outer size of 387 x 206 with the usual frame
  setFont(DesignFont());

  lblName = MakeLabel(this, QStringLiteral("lblName"), QStringLiteral("CellfeedWizard"), {104, 40}, 160);
  lblVersion = MakeLabel(this, QStringLiteral("lblVersion"), QStringLiteral("Version"), {104, 72}, 160);
  lblCopyright = MakeLabel(this, QStringLiteral("lblCopyright"), kBrandedCopyright, {104, 104}, 156);
  Image1 = MakePicture(this, QStringLiteral("Image1"), Glyphs::kBrandedPicture, {8, 24, 81, 118});
  Image2 = MakePicture(this, QStringLiteral("Image2"), Glyphs::kGenericPicture, {264, 48, 81, 118});
  Image2->hide();

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(272, 32, 75, 25);
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmAbout::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnScreen(*this);
  FormShow();
}

void TfrmAbout::reject() { accept(); }

void TfrmAbout::ApplyBranding() {
  if (IsBrandedExecutableName(RunContext::ExecutablePath())) return;
  lblCopyright->setText(kGenericCopyright);
  Image2->move(Image1->pos());
  Image1->hide();
  Image2->show();
  setWindowTitle(QStringLiteral("About Data Collection Wizard"));
}

void TfrmAbout::FormShow() {
  ApplyBranding();
  const QString version = ExecutableFileVersion();
  if (version.isEmpty()) return;  // no version information: the labels keep their texts
  lblVersion->setText(QStringLiteral("Version ") + version);
  lblName->setText(QFileInfo(RunContext::ExecutablePath()).fileName());
}
