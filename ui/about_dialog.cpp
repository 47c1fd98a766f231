#include "ui/about_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>

#include "firmware/image_origin.h"
#include "ui/dialog_units.h"

namespace q9m::ui {

namespace {

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);

  // The pedal's body.
  QPainterPath body;
  body.addRoundedRect(QRectF(4.5, 1.5, 23, 29), 4, 4);
  p.setPen(QPen(QColor(0x12, 0x2c, 0x4f), 1));
  p.setBrush(QColor(0x2a, 0x5d, 0x9f));
  p.drawPath(body);

  // Two knobs and the status light along the top.
  p.setPen(QPen(QColor(0x40, 0x40, 0x40), 0.8));
  p.setBrush(QColor(0xf0, 0xf0, 0xf0));
  p.drawEllipse(QPointF(10, 7), 2.6, 2.6);
  p.drawEllipse(QPointF(22, 7), 2.6, 2.6);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x3c, 0xe0, 0x5a));
  p.drawEllipse(QPointF(16, 6), 1.3, 1.3);

  // The update arrow, pointing into the pedal.
  QPainterPath arrow;
  arrow.moveTo(14, 10.5);
  arrow.lineTo(18, 10.5);
  arrow.lineTo(18, 15.5);
  arrow.lineTo(21.5, 15.5);
  arrow.lineTo(16, 21);
  arrow.lineTo(10.5, 15.5);
  arrow.lineTo(14, 15.5);
  arrow.closeSubpath();
  p.setBrush(QColor(0xff, 0xc8, 0x3c));
  p.drawPath(arrow);

  // The footswitch.
  p.setPen(QPen(QColor(0x30, 0x30, 0x30), 0.8));
  p.setBrush(QColor(0xb8, 0xbc, 0xc4));
  p.drawEllipse(QPointF(16, 25.5), 3.2, 3.2);
  return pixmap;
}

}  // namespace

QIcon ApplicationIcon() {
  QIcon icon;
  // Drawn at every size a window, the About box or a HiDPI screen (scale 2 or 3) asks for.
  for (int size : {16, 24, 32, 48, 64, 96, 128}) icon.addPixmap(DrawIcon(size));
  return icon;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Q9m Updater"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(ApplicationIcon());
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.Size(235, 60));

  // An icon control takes the icon's own size, whatever the template says.
  icon_ = new QLabel(this);
  icon_->setPixmap(ApplicationIcon().pixmap(32, 32));
  icon_->setGeometry(QRect(QPoint(du.X(11), du.Y(17)), QSize(32, 32)));

  // Read-only text on the dialog's own colour, as a caption that can still be selected.
  auto caption = [this](int id, const std::string& text, QRect rect) {
    auto* field = new QLineEdit(QString::fromStdString(text), this);
    field->setObjectName(QStringLiteral("control%1").arg(id));
    field->setReadOnly(true);
    field->setFrame(false);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    field->setPalette(palette);
    field->setGeometry(rect);
    return field;
  };
  programName_ = caption(kIdProgramName, kProgramTitle, du.Rect(39, 19, 134, 14));
  imageOrigin_ = caption(kIdImageOrigin, firmware::ImageOriginText(), du.Rect(39, 35, 189, 14));

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("control%1").arg(kIdOk));
  ok_->setDefault(true);
  ok_->setGeometry(du.Rect(178, 6, 50, 16));
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

  setTabOrder(ok_, programName_);
  setTabOrder(programName_, imageOrigin_);
  ok_->setFocus();
}

}  // namespace q9m::ui
