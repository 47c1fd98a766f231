// What the dialog tests share: a dialog on a fresh virtual MIDI service, its controls by id,
// waiting while the event loop runs, and a watcher that records every modal window that comes
// up (error boxes, the About box) and then dismisses it or does what the test asks.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <vector>

#include "protocol/update_context.h"
#include "tests/support/virtual_midi_fixture.h"
#include "ui/main_dialog.h"

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace q9m::testing {

// Runs the event loop until `done` holds; false after `timeoutMs`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 120'000);
// Runs the event loop for `ms`, for checks that nothing more happens.
void Spin(int ms);
// The ids of this process's threads that carry the program's own name, the main thread
// excepted: those the program starts itself (Qt names its threads after their class).
std::set<int> UnnamedThreads();
// Whether thread `tid` still exists.
bool ThreadAlive(int tid);

// One modal window as it was when it came up.
struct SeenModal {
  QString className;
  QString title;
  QString text;  // a message box's text
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QWidget* parent = nullptr;
  Qt::WindowModality modality = Qt::NonModal;
};

class ModalWatcher : public QObject {
 public:
  // Called with the modal window after it was recorded; by default OK is pressed.
  using Action = std::function<void(QDialog& modal)>;
  explicit ModalWatcher(Action action = PressOk);
  static void PressOk(QDialog& modal);

  const std::vector<SeenModal>& Seen() const { return seen_; }
  std::vector<QString> Texts() const;
  void SetAction(Action action) { action_ = std::move(action); }

 private:
  void Poll();

  Action action_;
  QTimer timer_;
  QPointer<QWidget> last_;
  std::vector<SeenModal> seen_;
};

class DialogTest : public VirtualMidiTest {
 protected:
  void TearDown() override;

  // Builds the dialog on the ports added so far and shows it.
  ui::CK2pUpdatorDlg& Open(int instanceNumber = 1);

  QPushButton* Button(int id);
  QComboBox* List(int id);
  QLineEdit* Field(int id);
  QProgressBar* Progress();

  // Enabled state of MIDI IN, MIDI OUT, Execute, Rescan Device and Exit, in that order.
  std::vector<bool> Enabled();

  protocol::DeviceState state_;
  std::unique_ptr<ui::CK2pUpdatorDlg> dialog_;
};

inline const std::vector<bool> kAllEnabled = {true, true, true, true, true};
inline const std::vector<bool> kRunning = {false, false, false, false, true};
inline const std::vector<bool> kCompleted = {true, true, false, true, true};

}  // namespace q9m::testing
