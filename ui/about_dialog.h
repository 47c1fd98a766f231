// The About box that the main dialog's context menu opens, and the application's icon.
#pragma once

#include <QDialog>
#include <QIcon>

#include "ui/instance_name.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace q9m::ui {

// The icon of the windows and the About box: a blue effects pedal with an update arrow,
// drawn at 16, 32 and 48 pixels.
QIcon ApplicationIcon();

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  // Control ids of the About template.
  static constexpr int kIdOk = 1;
  static constexpr int kIdProgramName = 1003;
  // Which firmware images the program carries, below its name.
  static constexpr int kIdImageOrigin = 1004;

  explicit CAboutDlg(QWidget* parent = nullptr);

 private:
  QLabel* icon_;
  QLineEdit* programName_;
  QLineEdit* imageOrigin_;
  QPushButton* ok_;
};

}  // namespace q9m::ui
