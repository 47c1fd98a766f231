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

// Item k of the list is port k; item `selected` is selected, or none.
void FillList(QComboBox& list, const std::vector<std::string>& names, int selected) {
  list.clear();
  for (const std::string& name : names) list.addItem(QString::fromStdString(name));
  list.setCurrentIndex(selected);
}

// Refills `list`, which shows `shown`, with the ports `now` when they differ.
void FollowList(QComboBox& list, std::vector<std::string>& shown, std::vector<std::string> now,
                int instanceNumber) {
  const auto next = FollowedSelection(shown, list.currentIndex(), now, instanceNumber);
  if (!next) return;
  shown = std::move(now);
  FillList(list, shown, *next);
}

// A read-only field looks like one: the window's colour behind its text.
void MakeReadOnlyField(QLineEdit& field) {
  field.setReadOnly(true);
  QPalette palette = field.palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  field.setPalette(palette);
}

}  // namespace

// What the worker's calls do once the marshalled view has carried them to this thread.
class CK2pUpdatorDlg::DialogView final : public protocol::UpdateView {
 public:
  explicit DialogView(CK2pUpdatorDlg& dialog) : d_(dialog) {}

  void SetActivityText(const std::string& text) override {
    d_.activity_->setText(QString::fromStdString(text));
  }
  void SetStepText(const std::string& text) override {
    d_.step_->setText(QString::fromStdString(text));
  }
  void SetProgressRange(int lowest, int highest) override {
    d_.progress_->setRange(lowest, highest);
  }
  void SetProgressPosition(int position) override {
    // A position outside the range shows as the nearest end, rather than being ignored.
    d_.progress_->setValue(std::clamp(position, d_.progress_->minimum(), d_.progress_->maximum()));
  }
  void ReportError(int stringId) override { d_.ShowWorkerError(stringId); }
  void ReportErrorAt(int stringId, uint32_t, const std::string& detail) override {
    d_.ShowWorkerError(stringId, QString::fromStdString(detail));
  }
  void RestoreControls() override { d_.RestoreControls(); }
  void EnableExecute(bool enable) override { d_.EnableExecute(enable); }

 private:
  CK2pUpdatorDlg& d_;
};

CK2pUpdatorDlg::CK2pUpdatorDlg(int instanceNumber, QWidget* parent)
    : CK2pUpdatorDlg(instanceNumber, protocol::DeviceState::Process(), parent) {}

CK2pUpdatorDlg::CK2pUpdatorDlg(int instanceNumber, protocol::DeviceState& device, QWidget* parent)
    : QDialog(parent),
      instanceNumber_(instanceNumber),
      dialogView_(std::make_unique<DialogView>(*this)),
      // Each call is queued onto this dialog's thread; none arrives once the dialog is gone.
      view_(std::make_unique<MarshalledView>(*dialogView_,
                                             [this] {
                                               QMetaObject::invokeMethod(
                                                   this, [this] { view_->RunPending(); },
                                                   Qt::QueuedConnection);
                                             })),
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

  // Watching before the lists are filled, so that no port that comes meanwhile is missed.
  follower_ = std::make_unique<PortFollower>([this] {
    QMetaObject::invokeMethod(
        this, [this] { OnPortsChanged(); }, Qt::QueuedConnection);
  });
  FillPortLists();
  session_.StartTimer();
  progress_->setRange(0, 100);
  setWindowTitle(QString::fromStdString(InstanceName(instanceNumber_)));
  execute_->setFocus();
}

void CK2pUpdatorDlg::FillPortLists() {
  outNames_ = MidiOutNames();
  FillList(*midiOut_, outNames_, PreselectPort(outNames_, instanceNumber_));
  inNames_ = MidiInNames();
  FillList(*midiIn_, inNames_, PreselectPort(inNames_, instanceNumber_));
}

void CK2pUpdatorDlg::OnPortsChanged() {
  if (!closing_ && follower_->Take(session_.Busy())) FollowPortLists();
}

void CK2pUpdatorDlg::FollowPortLists() {
  FollowList(*midiOut_, outNames_, MidiOutNames(), instanceNumber_);
  FollowList(*midiIn_, inNames_, MidiInNames(), instanceNumber_);
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
  session_.SetVerifyAfterWriting(verifyEntry_->isChecked());
  const auto result = session_.Execute(midiOut_->currentIndex(), midiIn_->currentIndex(), *view_);
  if (result == UpdateSession::ExecuteResult::Started) {
    SetPortControlsEnabled(false);
    return;
  }
  const QString refusal = QString::fromStdString(UpdateSession::RefusalText(result));
  QPointer<CK2pUpdatorDlg> self(this);
  ShowErrorText(refusal);
  // A press while busy is no press of its own: the running update reports its end.
  if (self && !closing_ && result != UpdateSession::ExecuteResult::Busy) {
    emit executeEnded(false, refusal);
  }
}

bool CK2pUpdatorDlg::ConfirmBridgedPorts() {
  const std::string warning = PortRouteWarning(midiOut_->currentIndex(), midiIn_->currentIndex());
  if (warning.empty()) return true;
  // Asked before anything is sent: an update cut short on the way leaves the flash erased.
  QMessageBox box(QMessageBox::Warning, windowTitle(),
                  QString::fromStdString(warning + "\n\n" + kBridgedPortsQuestion),
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
  if (follower_->ControlsBack()) FollowPortLists();
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
  follower_.reset();  // no more calls from its thread
  // First the worker's waits, so that it cannot be holding on to a box while the session
  // joins it; then any box still up, whose loop returns once control is back in it.
  view_->Cancel();
  for (const QPointer<QMessageBox>& box : openBoxes_) {
    if (box) box->done(QMessageBox::Ok);
  }
  session_.Close();
}

}  // namespace q9m::ui
