// q9m-updater: the updater's dialog on the real MIDI ports, as instance 1.
//
// It takes no arguments of its own; Qt's own options (-platform, -style, ...) are honoured.
// Two environment variables automate it, for the demo and the end-to-end tests:
//   Q9M_UPDATER_AUTORUN=1        presses Execute once the window is up; every message box is
//                                printed on stdout and dismissed; the outcome ("Version update
//                                completed." or the error text) is printed when the press has
//                                come to its end, and the exit status is 0 for a completed
//                                update, 1 otherwise.
//   Q9M_UPDATER_SCREENSHOT=PATH  with autorun: saves a grab of the window (PNG) at that end,
//                                then closes the window.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <string>

#include "platform/midi_service.h"
#include "platform/rtmidi/rtmidi_backend.h"
#include "ui/about_dialog.h"
#include "ui/main_dialog.h"

using namespace q9m;

namespace {

void PrintLine(const QString& text) {
  std::printf("%s\n", text.toLocal8Bit().constData());
  std::fflush(stdout);
}

// Under autorun nobody is there to press OK: the box is recorded and pressed once it is up.
void AutoDismiss(QMessageBox* box) {
  PrintLine(QStringLiteral("[%1] %2").arg(box->windowTitle(), box->text()));
  QMetaObject::invokeMethod(
      box,
      [box] {
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
      },
      Qt::QueuedConnection);
}

void ShowMidiProblem(QWidget* parent, const std::string& reason, bool autorun) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("No MIDI system"),
                  QStringLiteral("No MIDI system could be reached, so the port lists are empty.\n\n"
                                 "Reason: %1\n\n"
                                 "Load the ALSA sequencer or start a JACK server, then press "
                                 "Rescan Device.")
                      .arg(QString::fromStdString(reason)),
                  QMessageBox::Ok, parent);
  if (autorun) AutoDismiss(&box);
  box.exec();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setWindowIcon(ui::ApplicationIcon());
  const QStringList extra = QApplication::arguments().mid(1);
  if (!extra.isEmpty()) {
    std::fprintf(stderr, "q9m-updater takes no arguments; ignored: %s\n",
                 extra.join(' ').toLocal8Bit().constData());
  }

  const bool autorun = qEnvironmentVariable("Q9M_UPDATER_AUTORUN") == QLatin1String("1");
  const QString screenshot = qEnvironmentVariable("Q9M_UPDATER_SCREENSHOT");

  std::string midiError;
  const bool midi = platform::StartRealMidiService("q9m-updater", &midiError);

  bool completed = false;
  {
    ui::CK2pUpdatorDlg dialog(1);
    if (autorun) {
      QObject::connect(&dialog, &ui::CK2pUpdatorDlg::errorBoxShown, &dialog, AutoDismiss);
      QObject::connect(&dialog, &ui::CK2pUpdatorDlg::executeEnded, &dialog,
                       [&](bool ok, const QString& outcome) {
                         completed = ok;
                         PrintLine(outcome);
                         if (screenshot.isEmpty()) return;
                         // After the handler that reported the end has returned.
                         QMetaObject::invokeMethod(
                             &dialog,
                             [&] {
                               if (!dialog.grab().save(screenshot, "PNG")) {
                                 std::fprintf(stderr, "Could not save the screenshot to %s\n",
                                              screenshot.toLocal8Bit().constData());
                               }
                               dialog.close();
                             },
                             Qt::QueuedConnection);
                       });
    }
    // Once the dialog's loop runs, that is, once the window is up.
    QTimer::singleShot(0, &dialog, [&] {
      if (!midi) ShowMidiProblem(&dialog, midiError, autorun);
      if (autorun && dialog.isVisible()) {
        dialog
            .findChild<QPushButton*>(
                QStringLiteral("control%1").arg(ui::CK2pUpdatorDlg::kIdExecute))
            ->click();
      }
    });
    dialog.exec();
  }
  platform::StopMidiService();
  if (!autorun) return 0;
  return completed ? 0 : 1;
}
