#include "ui/main_dialog.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <string>

#include "firmware/image_origin.h"
#include "platform/midi_service.h"
#include "protocol/string_table.h"
#include "ui/about_dialog.h"
#include "ui/dialog_units.h"
#include "ui/instance_name.h"
#include "ui/port_preselection.h"

namespace q9m::ui {

namespace {

QString Text(int stringId) {
  return QString::fromUtf8(protocol::LoadString(stringId));
}

QString ControlName(int id) {
  return QStringLiteral("control%1").arg(id);
}

// Item k of the list is port k; the instance's preferred port is selected, or none.
void FillList(QComboBox& list, const std::vector<std::string>& names, int instanceNumber) {
  list.clear();
  for (const std::string& name : names) list.addItem(QString::fromStdString(name));
  list.setCurrentIndex(PreselectPort(names, instanceNumber));
}

// A read-only field looks like one: the window's colour behind its text.
void MakeReadOnlyField(QLineEdit& field) {
  field.setReadOnly(true);
  QPalette palette = field.palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  field.setPalette(palette);
}

}  // namespace

// The view the worker calls on its own thread. Each call is queued onto the dialog's thread,
// so the dialog sees them in the order they were made. ReportError waits until the dialog
// has shown and closed the box; Cancel releases every wait and drops every later call.
class CK2pUpdatorDlg::WorkerView final : public protocol::UpdateView {
 public:
  explicit WorkerView(CK2pUpdatorDlg& dialog) : dialog_(dialog) {}

  void SetActivityText(const std::string& text) override {
    Post([text = QString::fromStdString(text)](CK2pUpdatorDlg& d) { d.activity_->setText(text); });
  }
  void SetStepText(const std::string& text) override {
    Post([text = QString::fromStdString(text)](CK2pUpdatorDlg& d) { d.step_->setText(text); });
  }
  void SetProgressRange(int lowest, int highest) override {
    Post([lowest, highest](CK2pUpdatorDlg& d) { d.progress_->setRange(lowest, highest); });
  }
  void SetProgressPosition(int position) override {
    // A position outside the range shows as the nearest end, rather than being ignored.
    Post([position](CK2pUpdatorDlg& d) {
      d.progress_->setValue(std::clamp(position, d.progress_->minimum(), d.progress_->maximum()));
    });
  }
  void RestoreControls() override {
    Post([](CK2pUpdatorDlg& d) { d.RestoreControls(); });
  }
  void EnableExecute(bool enable) override {
    Post([enable](CK2pUpdatorDlg& d) { d.EnableExecute(enable); });
  }

  void ReportError(int stringId) override { Report(stringId, {}); }
  void ReportErrorAt(int stringId, uint32_t, const std::string& detail) override {
    Report(stringId, QString::fromStdString(detail));
  }

  // Dialog thread, when the window closes: a waiting ReportError returns, and no later call
  // reaches the dialog.
  void Cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    for (const auto& wait : waits_) wait->Release();
  }

 private:
  void Report(int stringId, const QString& detail) {
    auto wait = std::make_shared<Wait>();
    {
      std::lock_guard lock(mutex_);
      if (cancelled_) return;
      waits_.push_back(wait);
      QMetaObject::invokeMethod(
          &dialog_,
          [&dialog = dialog_, stringId, detail, wait] {
            dialog.ShowWorkerError(stringId, detail);
            wait->Release();
          },
          Qt::QueuedConnection);
    }
    wait->Block();
    std::lock_guard lock(mutex_);
    waits_.erase(std::remove(waits_.begin(), waits_.end(), wait), waits_.end());
  }

  // One ReportError's wait for the box to be dismissed; released once or more.
  class Wait {
   public:
    void Release() {
      {
        std::lock_guard lock(mutex_);
        released_ = true;
      }
      released_cv_.notify_all();
    }
    void Block() {
      std::unique_lock lock(mutex_);
      released_cv_.wait(lock, [this] { return released_; });
    }

   private:
    std::mutex mutex_;
    std::condition_variable released_cv_;
    bool released_ = false;
  };

  // Posting under the lock means that once Cancel returned nothing more is queued.
  template <typename F>
  void Post(F call) {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    QMetaObject::invokeMethod(
        &dialog_, [&dialog = dialog_, call = std::move(call)] { call(dialog); },
        Qt::QueuedConnection);
  }

  CK2pUpdatorDlg& dialog_;
  std::mutex mutex_;
  bool cancelled_ = false;
  std::vector<std::shared_ptr<Wait>> waits_;
};

CK2pUpdatorDlg::CK2pUpdatorDlg(int instanceNumber, QWidget* parent)
    : CK2pUpdatorDlg(instanceNumber, protocol::DeviceState::Process(), parent) {}

CK2pUpdatorDlg::CK2pUpdatorDlg(int instanceNumber, protocol::DeviceState& device, QWidget* parent)
    : QDialog(parent),
      instanceNumber_(instanceNumber),
      view_(std::make_unique<WorkerView>(*this)),
      session_(device) {
  CreateControls();
  OnInitDialog();
}

CK2pUpdatorDlg::~CK2pUpdatorDlg() {
  Shutdown();
}

void CK2pUpdatorDlg::CreateControls() {
  // A fixed-size dialog: a title bar with the close box only.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(ApplicationIcon());
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.Size(239, 161));

  auto button = [&](int id, const char* text, QRect rect) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(ControlName(id));
    b->setGeometry(rect);
    return b;
  };
  // A drop-down list takes the height its font needs; the template's height is what the list
  // may take when dropped.
  auto list = [&](int id, int x, int y, int width, int droppedHeight) {
    auto* l = new QComboBox(this);
    l->setObjectName(ControlName(id));
    l->setEditable(false);
    l->setInsertPolicy(QComboBox::NoInsert);
    const int closedHeight = l->sizeHint().height();
    l->setGeometry(du.X(x), du.Y(y), du.X(x + width) - du.X(x), closedHeight);
    const int itemHeight = QFontMetrics(l->font()).height() + 2;
    l->setMaxVisibleItems(std::max(1, (du.Y(droppedHeight) - closedHeight) / itemHeight));
    return l;
  };
  auto field = [&](int id, QRect rect) {
    auto* f = new QLineEdit(this);
    f->setObjectName(ControlName(id));
    MakeReadOnlyField(*f);
    f->setGeometry(rect);
    return f;
  };
  auto label = [&](const char* text, QRect rect) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setGeometry(rect);
    return l;
  };

  execute_ = button(kIdExecute, "Execute", du.Rect(119, 138, 50, 16));
  execute_->setDefault(true);
  exit_ = button(kIdExit, "Exit", du.Rect(182, 138, 50, 16));
  // Starting an update disables Execute and moves the focus on to Exit; Enter must not then
  // close the window and cut the update short. Exit is pressed by click, Space or Esc.
  exit_->setAutoDefault(false);
  midiIn_ = list(kIdMidiIn, 7, 15, 225, 115);
  midiOut_ = list(kIdMidiOut, 7, 45, 225, 115);
  activity_ = field(kIdActivity, du.Rect(12, 91, 220, 12));
  rescan_ = button(kIdRescan, "Rescan Device", du.Rect(145, 65, 87, 16));
  step_ = field(kIdStep, du.Rect(12, 78, 29, 12));
  midiInLabel_ = label("MIDI IN", du.Rect(7, 7, 225, 8));
  midiOutLabel_ = label("MIDI OUT", du.Rect(7, 37, 225, 8));
  progress_ = new QProgressBar(this);
  progress_->setObjectName(ControlName(kIdProgress));
  progress_->setGeometry(du.Rect(7, 107, 225, 14));
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);
  progress_->setValue(0);

  // The template's tab order; the labels and the progress bar take no focus.
  setTabOrder(execute_, exit_);
  setTabOrder(exit_, midiIn_);
  setTabOrder(midiIn_, midiOut_);
  setTabOrder(midiOut_, activity_);
  setTabOrder(activity_, rescan_);
  setTabOrder(rescan_, step_);

  connect(execute_, &QPushButton::clicked, this, &CK2pUpdatorDlg::OnBnClickedExecute);
  connect(exit_, &QPushButton::clicked, this, &QDialog::reject);
  connect(rescan_, &QPushButton::clicked, this, &CK2pUpdatorDlg::OnBnClickedRescan);
}

void CK2pUpdatorDlg::OnInitDialog() {
  // Linux window managers offer no menu that a program can add to, so the About entry lives
  // in the dialog's context menu.
  windowMenu_ = new QMenu(this);
  const QString about = Text(protocol::IDS_ABOUTBOX);
  if (!about.isEmpty()) {
    QAction* entry = windowMenu_->addAction(about);
    entry->setData(kIdmAboutBox);
    connect(entry, &QAction::triggered, this, [this] { OnSysCommand(kIdmAboutBox); });
  }
  // Off by default: whether the device answers reads beyond the version check is not known.
  verifyEntry_ = windowMenu_->addAction(Text(protocol::IDS_VERIFY_AFTER_WRITING));
  verifyEntry_->setCheckable(true);

  FillPortLists();
  session_.StartTimer();
  progress_->setRange(0, 100);
  setWindowTitle(QString::fromStdString(InstanceName(instanceNumber_)));
  execute_->setFocus();
}

void CK2pUpdatorDlg::FillPortLists() {
  FillList(*midiOut_, MidiOutNames(), instanceNumber_);
  FillList(*midiIn_, MidiInNames(), instanceNumber_);
}

void CK2pUpdatorDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (windowMenu_->isEmpty()) {
    QDialog::contextMenuEvent(event);
    return;
  }
  windowMenu_->exec(event->globalPos());
}

void CK2pUpdatorDlg::OnSysCommand(int commandId) {
  if ((commandId & 0xFFF0) == kIdmAboutBox && !closing_) {
    CAboutDlg about(this);
    about.exec();
  }
}

void CK2pUpdatorDlg::OnBnClickedExecute() {
  if (closing_) return;
  if (session_.Busy()) {
    ShowError(protocol::IDS_IN_PROGRESS);
    return;
  }
  if (!ConfirmBridgedPorts()) return;
  QString refusal;
  session_.SetVerifyAfterWriting(verifyEntry_->isChecked());
  switch (session_.Execute(midiOut_->currentIndex(), midiIn_->currentIndex(), *view_)) {
    case UpdateSession::ExecuteResult::Started:
      midiIn_->setEnabled(false);
      midiOut_->setEnabled(false);
      execute_->setEnabled(false);
      rescan_->setEnabled(false);
      return;
    case UpdateSession::ExecuteResult::Busy:
      ShowError(protocol::IDS_IN_PROGRESS);
      return;
    case UpdateSession::ExecuteResult::StandInImages:
      refusal = QString::fromStdString(firmware::StandInRefusalText());
      break;
    case UpdateSession::ExecuteResult::CantOpenOut:
      refusal = Text(protocol::IDS_CANT_OPEN_MIDI_OUT);
      break;
    case UpdateSession::ExecuteResult::CantOpenIn:
      refusal = Text(protocol::IDS_CANT_OPEN_MIDI_IN);
      break;
    case UpdateSession::ExecuteResult::NoThread:
      // The string table has no text for this: the update could not be carried out.
      refusal = Text(protocol::IDS_TRANSFER_ERROR);
      break;
  }
  QPointer<CK2pUpdatorDlg> self(this);
  ShowErrorText(refusal);
  if (self && !closing_) emit executeEnded(false, refusal);
}

bool CK2pUpdatorDlg::ConfirmBridgedPorts() {
  const std::string warning = PortRouteWarning(midiOut_->currentIndex(), midiIn_->currentIndex());
  if (warning.empty()) return true;
  // Asked before anything is sent: an update cut short on the way leaves the flash erased.
  QMessageBox box(QMessageBox::Warning, windowTitle(),
                  QString::fromStdString(warning + "\n\nUpdate over these ports all the same?"),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  QPointer<CK2pUpdatorDlg> self(this);
  const bool yes = box.exec() == QMessageBox::Yes;
  return yes && self && !closing_;
}

void CK2pUpdatorDlg::OnBnClickedRescan() {
  if (closing_) return;
  FillPortLists();
  execute_->setEnabled(true);
}

void CK2pUpdatorDlg::ShowError(int stringId) {
  ShowErrorText(Text(stringId));
}

void CK2pUpdatorDlg::ShowErrorText(const QString& text) {
  if (closing_) return;
  QPointer<QMessageBox> box = new QMessageBox(
      QMessageBox::Critical, Text(protocol::IDS_ERROR_CAPTION), text, QMessageBox::Ok, this);
  box->setWindowModality(Qt::WindowModal);
  openBoxes_.push_back(box);
  QPointer<CK2pUpdatorDlg> self(this);
  emit errorBoxShown(box);
  if (box && !closing_) box->exec();
  if (!self) return;
  openBoxes_.erase(std::remove(openBoxes_.begin(), openBoxes_.end(), box), openBoxes_.end());
  delete box.data();
}

void CK2pUpdatorDlg::SetPortControlsEnabled(bool enabled) {
  midiIn_->setEnabled(enabled);
  midiOut_->setEnabled(enabled);
  execute_->setEnabled(enabled);
  rescan_->setEnabled(enabled);
}

void CK2pUpdatorDlg::ShowWorkerError(int stringId, const QString& detail) {
  if (closing_) return;
  QPointer<CK2pUpdatorDlg> self(this);
  const QString text = detail.isEmpty() ? Text(stringId) : Text(stringId) + "\n\n" + detail;
  ShowErrorText(text);
  if (!self || closing_) return;
  RestoreControls();
  emit executeEnded(false, text);
}

void CK2pUpdatorDlg::RestoreControls() {
  if (closing_) return;
  SetPortControlsEnabled(true);
  session_.ClearBusy();
}

void CK2pUpdatorDlg::EnableExecute(bool enable) {
  if (closing_) return;
  execute_->setEnabled(enable);
  // A completed run ends by disabling Execute once the controls are back.
  const QString completed = Text(protocol::IDS_UPDATE_COMPLETED);
  if (!enable && !session_.Busy() && activity_->text() == completed) {
    emit executeEnded(true, completed);
  }
}

void CK2pUpdatorDlg::done(int result) {
  Shutdown();
  QDialog::done(result);
}

void CK2pUpdatorDlg::Shutdown() {
  if (closing_) return;
  closing_ = true;
  // First the worker's waits, so that it cannot be holding on to a box while the session
  // joins it; then any box still up, whose loop returns once control is back in it.
  view_->Cancel();
  for (const QPointer<QMessageBox>& box : openBoxes_) {
    if (box) box->done(QMessageBox::Ok);
  }
  session_.Close();
}

}  // namespace q9m::ui
