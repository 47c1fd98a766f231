#include "app/autorun.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <utility>

#include "ui/main_dialog.h"

namespace q9m::app {

void PrintLine(const QString& text) {
  std::printf("%s\n", text.toLocal8Bit().constData());
  std::fflush(stdout);
}

namespace {

// Which ports the lists hold and show: what a failed run's log needs to be understood.
QString Selections(const ui::CK2pUpdatorDlg& dialog) {
  QString text = QStringLiteral("Ports:");
  for (const auto& [id, label] : {std::pair{ui::CK2pUpdatorDlg::kIdMidiOut, "MIDI Out"},
                                  std::pair{ui::CK2pUpdatorDlg::kIdMidiIn, "MIDI In"}}) {
    const auto* list = dialog.findChild<QComboBox*>(QStringLiteral("control%1").arg(id));
    if (list == nullptr) continue;
    text += QStringLiteral(" %1 '%2' (%3 of %4);")
                .arg(QLatin1String(label), list->currentText())
                .arg(list->currentIndex())
                .arg(list->count());
  }
  return text;
}

QPushButton* Button(ui::CK2pUpdatorDlg& dialog, int id) {
  return dialog.findChild<QPushButton*>(QStringLiteral("control%1").arg(id));
}

// Runs `action` once on the window's thread, as soon as the file `path` exists (the test's
// signal); looked for every 100 ms for as long as the window lives.
void WhenFileExists(ui::CK2pUpdatorDlg& dialog, const QString& path, std::function<void()> action) {
  auto* poll = new QTimer(&dialog);
  QObject::connect(poll, &QTimer::timeout, &dialog, [poll, path, action = std::move(action)] {
    if (!QFile::exists(path)) return;
    poll->stop();
    poll->deleteLater();
    action();
  });
  poll->start(100);
}

}  // namespace

Autorun::Autorun()
    : enabled_(qEnvironmentVariable("Q9M_UPDATER_AUTORUN") == QLatin1String("1")),
      screenshot_(qEnvironmentVariable("Q9M_UPDATER_SCREENSHOT")),
      rescanWhen_(qEnvironmentVariable("Q9M_UPDATER_AUTORUN_RESCAN_WHEN")),
      againWhen_(qEnvironmentVariable("Q9M_UPDATER_AUTORUN_AGAIN_WHEN")),
      escWhen_(qEnvironmentVariable("Q9M_UPDATER_AUTORUN_ESC_WHEN")) {}

void Autorun::Dismiss(QMessageBox& box) const {
  if (!enabled_) return;
  PrintLine(QStringLiteral("[%1] %2").arg(box.windowTitle(), box.text()));
  QMessageBox* target = &box;
  QMetaObject::invokeMethod(
      target,
      [target] {
        if (QAbstractButton* ok = target->button(QMessageBox::Ok)) ok->click();
      },
      Qt::QueuedConnection);
}

void Autorun::Attach(ui::CK2pUpdatorDlg& dialog) {
  if (!enabled_) return;
  PrintLine(QStringLiteral("Window: %1").arg(dialog.windowTitle()));
  QObject::connect(&dialog, &ui::CK2pUpdatorDlg::errorBoxShown, &dialog,
                   [this](QMessageBox* box) { Dismiss(*box); });
  QObject::connect(&dialog, &ui::CK2pUpdatorDlg::executeEnded, &dialog,
                   [this, &dialog](bool ok, const QString& outcome) {
                     completed_ = ok;
                     PrintLine(outcome);
                     if (!ok) PrintLine(Selections(dialog));
                     if (!ok && !againWhen_.isEmpty() && !triedAgain_) {
                       triedAgain_ = true;
                       RescanAndExecuteWhen(dialog, againWhen_);
                       return;
                     }
                     // After the handler that reported the end has returned.
                     QMetaObject::invokeMethod(
                         &dialog, [this, &dialog] { CloseWindow(dialog); }, Qt::QueuedConnection);
                   });
}

void Autorun::CloseWindow(ui::CK2pUpdatorDlg& dialog) const {
  if (!screenshot_.isEmpty() && !dialog.grab().save(screenshot_, "PNG")) {
    std::fprintf(stderr, "Could not save the screenshot to %s\n",
                 screenshot_.toLocal8Bit().constData());
  }
  dialog.close();
}

void Autorun::PressExecute(ui::CK2pUpdatorDlg& dialog) const {
  if (!enabled_ || !dialog.isVisible()) return;
  if (rescanWhen_.isEmpty()) {
    Button(dialog, ui::CK2pUpdatorDlg::kIdExecute)->click();
    if (!escWhen_.isEmpty()) PressEscWhen(dialog, escWhen_);
    return;
  }
  PrintLine(Selections(dialog));
  RescanAndExecuteWhen(dialog, rescanWhen_);
}

void Autorun::PressEscWhen(ui::CK2pUpdatorDlg& dialog, const QString& path) const {
  WhenFileExists(dialog, path, [&dialog] {
    PrintLine(QStringLiteral("Pressing Esc."));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&dialog, &press);
  });
}

void Autorun::RescanAndExecuteWhen(ui::CK2pUpdatorDlg& dialog, const QString& path) const {
  WhenFileExists(dialog, path, [&dialog] {
    Button(dialog, ui::CK2pUpdatorDlg::kIdRescan)->click();
    PrintLine(QStringLiteral("Rescanned. ") + Selections(dialog));
    Button(dialog, ui::CK2pUpdatorDlg::kIdExecute)->click();
  });
}

}  // namespace q9m::app
