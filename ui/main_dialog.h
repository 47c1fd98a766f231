// The updater's main dialog: two MIDI port lists, Execute, Rescan Device and Exit, and the
// step, activity and progress of the running update.
//
// While no update runs, the port lists follow the devices that come and go: a list keeps its
// selection while that port is still there, and otherwise takes the port preselected at start.
// Rescan Device fills both lists afresh, as at start.
//
// The update runs on the session's worker thread, which reports through a view that carries
// every call over to this dialog's thread, in the order made. An error the worker reports
// holds the worker until the user has dismissed the error box. Closing the window (Exit, Esc
// or the close box) releases such a wait first, then closes the session, which ends the
// worker before anything it may touch is released.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <memory>
#include <vector>

#include "protocol/update_context.h"
#include "protocol/update_view.h"
#include "ui/marshalled_view.h"
#include "ui/port_follower.h"
#include "ui/update_session.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace q9m::ui {

class CK2pUpdatorDlg : public QDialog {
  Q_OBJECT

 public:
  // Control ids of the dialog template; each control's objectName is "control<id>".
  static constexpr int kIdExecute = 1;
  static constexpr int kIdExit = 2;
  static constexpr int kIdMidiIn = 1000;
  static constexpr int kIdMidiOut = 1001;
  static constexpr int kIdProgress = 1002;
  static constexpr int kIdActivity = 1003;
  static constexpr int kIdRescan = 1004;
  static constexpr int kIdStep = 1006;
  // The command id of the About entry in the window's menu.
  static constexpr int kIdmAboutBox = 0x10;

  // `instanceNumber` (1 to 20) picks the title and the port names that are preselected.
  explicit CK2pUpdatorDlg(int instanceNumber, QWidget* parent = nullptr);
  CK2pUpdatorDlg(int instanceNumber, protocol::DeviceState& device, QWidget* parent = nullptr);
  ~CK2pUpdatorDlg() override;

  int InstanceNumber() const { return instanceNumber_; }
  UpdateSession& Session() { return session_; }
  // The window's menu: the About entry, when its text exists, and "Verify after writing".
  QMenu* WindowMenu() const { return windowMenu_; }
  // The checkable "Verify after writing" entry: off at start, kept while the program runs.
  QAction* VerifyEntry() const { return verifyEntry_; }

  // Every window close ends here: Exit, Esc and the close box.
  void done(int result) override;

 public slots:
  void OnBnClickedExecute();
  // Asks whether to go on when a chosen port runs through a bridge known to cut long messages;
  // true when none does or the user goes on.
  bool ConfirmBridgedPorts();
  void OnBnClickedRescan();
  // A command from the window's menu.
  void OnSysCommand(int commandId);

 signals:
  // An error box is about to be shown; it is modal and owned by this dialog.
  void errorBoxShown(QMessageBox* box);
  // A press of Execute has come to its end: the update completed, failed (after its error box
  // was dismissed), or could not start. `outcome` is the text the user saw last.
  void executeEnded(bool completed, const QString& outcome);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  class DialogView;

  void CreateControls();
  void OnInitDialog();
  void FillPortLists();
  // The follower's call, on this thread: the ports may have come or gone.
  void OnPortsChanged();
  // Lists the ports again and changes only what changed, keeping each list's selection.
  void FollowPortLists();
  // The modal error box with text `stringId`; returns once it was dismissed.
  void ShowError(int stringId);
  void ShowErrorText(const QString& text);
  void SetPortControlsEnabled(bool enabled);

  // What the worker's calls do once they reached this thread.
  // `detail`, when given, follows the text on a line of its own.
  void ShowWorkerError(int stringId, const QString& detail = {});
  void RestoreControls();
  void EnableExecute(bool enable);

  // Releases the worker and ends it; nothing is shown afterwards. Idempotent.
  void Shutdown();

  const int instanceNumber_;
  bool closing_ = false;
  std::unique_ptr<DialogView> dialogView_;
  std::unique_ptr<MarshalledView> view_;
  UpdateSession session_;
  std::vector<QPointer<QMessageBox>> openBoxes_;  // the error boxes up, innermost last
  std::unique_ptr<PortFollower> follower_;
  std::vector<std::string> outNames_;  // what the lists show, item by item
  std::vector<std::string> inNames_;

  QPushButton* execute_ = nullptr;
  QPushButton* exit_ = nullptr;
  QComboBox* midiIn_ = nullptr;
  QComboBox* midiOut_ = nullptr;
  QLineEdit* activity_ = nullptr;
  QPushButton* rescan_ = nullptr;
  QLineEdit* step_ = nullptr;
  QLabel* midiInLabel_ = nullptr;
  QLabel* midiOutLabel_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QMenu* windowMenu_ = nullptr;
  QAction* verifyEntry_ = nullptr;
};

}  // namespace q9m::ui
