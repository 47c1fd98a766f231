#include "tests/ui/dialog_harness.h"

#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <string>

namespace q9m::testing {

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  return QTest::qWaitFor(done, timeoutMs);
}

void Spin(int ms) {
  QTest::qWait(ms);
}

namespace {
std::string ReadLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}
}  // namespace

std::set<int> UnnamedThreads() {
  const std::string programName = ReadLine("/proc/self/comm");
  const int mainThread = static_cast<int>(getpid());
  std::set<int> threads;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    const int tid = std::stoi(entry.path().filename().string());
    if (tid != mainThread && ReadLine(entry.path().string() + "/comm") == programName) {
      threads.insert(tid);
    }
  }
  return threads;
}

bool ThreadAlive(int tid) {
  return std::filesystem::exists("/proc/self/task/" + std::to_string(tid));
}

ModalWatcher::ModalWatcher(Action action) : action_(std::move(action)) {
  timer_.setInterval(5);
  connect(&timer_, &QTimer::timeout, this, &ModalWatcher::Poll);
  timer_.start();
}

void ModalWatcher::PressOk(QDialog& modal) {
  if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
    box->button(QMessageBox::Ok)->click();
  } else if (auto* ok = modal.findChild<QPushButton*>(QStringLiteral("control1"))) {
    ok->click();
  } else {
    modal.reject();
  }
}

std::vector<QString> ModalWatcher::Texts() const {
  std::vector<QString> texts;
  for (const auto& seen : seen_) texts.push_back(seen.text);
  return texts;
}

void ModalWatcher::Poll() {
  auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
  if (modal == nullptr || modal == last_ || !modal->isVisible()) return;
  last_ = modal;
  SeenModal seen;
  seen.className = QString::fromLatin1(modal->metaObject()->className());
  seen.title = modal->windowTitle();
  seen.parent = modal->parentWidget();
  seen.modality = modal->windowModality();
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
  }
  seen_.push_back(seen);
  if (action_) action_(*modal);
}

void DialogTest::TearDown() {
  dialog_.reset();
  VirtualMidiTest::TearDown();
}

ui::CK2pUpdatorDlg& DialogTest::Open(int instanceNumber) {
  dialog_ = std::make_unique<ui::CK2pUpdatorDlg>(instanceNumber, state_);
  dialog_->show();
  dialog_->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
  return *dialog_;
}

namespace {
QString Name(int id) {
  return QStringLiteral("control%1").arg(id);
}
}  // namespace

QPushButton* DialogTest::Button(int id) {
  return dialog_->findChild<QPushButton*>(Name(id));
}
QComboBox* DialogTest::List(int id) {
  return dialog_->findChild<QComboBox*>(Name(id));
}
QLineEdit* DialogTest::Field(int id) {
  return dialog_->findChild<QLineEdit*>(Name(id));
}
QProgressBar* DialogTest::Progress() {
  return dialog_->findChild<QProgressBar*>(Name(ui::CK2pUpdatorDlg::kIdProgress));
}

std::vector<bool> DialogTest::Enabled() {
  using D = ui::CK2pUpdatorDlg;
  return {List(D::kIdMidiIn)->isEnabled(), List(D::kIdMidiOut)->isEnabled(),
          Button(D::kIdExecute)->isEnabled(), Button(D::kIdRescan)->isEnabled(),
          Button(D::kIdExit)->isEnabled()};
}

}  // namespace q9m::testing
