#include "app/updator_app.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/autorun.h"
#include "app/instance_numbering.h"
#include "app/stop_signals.h"
#include "platform/midi_service.h"
#include "platform/midi_system.h"
#include "ui/about_dialog.h"
#include "ui/main_dialog.h"

namespace q9m::app {

CK2pUpdatorApp theApp;

namespace {

// The program file's name without its extension: the caption of the start-up boxes.
QString ApplicationName() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void ShowStartupBox(const Autorun& autorun, const QString& text) {
  QMessageBox box(QMessageBox::Warning, ApplicationName(), text, QMessageBox::Ok);
  autorun.Dismiss(box);
  box.exec();
}

void ShowMidiProblem(QWidget* parent, const Autorun& autorun, const std::string& reason) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("No MIDI system"),
                  QStringLiteral("No MIDI system could be reached, so the port lists are empty.\n\n"
                                 "Reason: %1\n\n"
                                 "Load the ALSA sequencer or start a JACK server, then press "
                                 "Rescan Device.")
                      .arg(QString::fromStdString(reason)),
                  QMessageBox::Ok, parent);
  autorun.Dismiss(box);
  box.exec();
}

}  // namespace

int CK2pUpdatorApp::Run(int argc, char** argv) {
  BlockStopSignals();  // before the toolkit or the MIDI system starts a thread
  application_ = std::make_unique<QApplication>(argc, argv);
  stopSignals_ = std::make_unique<StopSignalWatcher>();
  QObject::connect(stopSignals_.get(), &StopSignalWatcher::received, [this] { OnStopSignal(); });
  InitInstance();
  stopSignals_.reset();
  application_.reset();
  return exitStatus_;
}

CK2pUpdatorApp::~CK2pUpdatorApp() = default;

void CK2pUpdatorApp::OnStopSignal() {
  // The dialog first: it ends the worker and closes its own error boxes.
  if (dialog_ != nullptr) dialog_->reject();
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box != nullptr && box->isVisible()) box->done(QMessageBox::Ok);
  }
}

bool CK2pUpdatorApp::InitInstance() {
  // The toolkit's own start-up has run (QApplication); its widgets need no further set-up.
  QApplication::setWindowIcon(ui::ApplicationIcon());
  const QStringList extra = QApplication::arguments().mid(1);
  if (!extra.isEmpty()) {
    std::fprintf(stderr, "%s takes no arguments; ignored: %s\n",
                 ApplicationName().toLocal8Bit().constData(),
                 extra.join(' ').toLocal8Bit().constData());
  }
  Autorun autorun;

  // Without a private folder for the names, copies could not be told apart: refuse to run
  // unnumbered rather than risk two copies on one number.
  std::string folderProblem;
  if (!platform::NamedMutexFolder(nullptr, &folderProblem)) {
    ShowStartupBox(autorun, QStringLiteral("The updater cannot start: %1.\n\nSet XDG_RUNTIME_DIR "
                                           "to a folder of your own, or mend this one.")
                                .arg(QString::fromStdString(folderProblem)));
    exitStatus_ = 1;
    return false;
  }

  const InstanceClaim claim = TakeInstanceNumber();
  instanceMutex = claim.mutex;
  instanceNumber = claim.number;
  if (instanceNumber == 0) {
    ShowStartupBox(autorun, QString::fromStdString(TooManyInstancesText()));
    exitStatus_ = 1;
    return false;
  }

  std::string midiError;
  const bool midi = platform::StartRealMidiService(MidiClientName(instanceNumber), &midiError);
  {
    ui::CK2pUpdatorDlg dialog(instanceNumber);
    dialog_ = &dialog;
    autorun.Attach(dialog);
    // Once the dialog's loop runs, that is, once the window is up.
    QTimer::singleShot(0, &dialog, [&] {
      if (!midi && !stopSignals_->Received()) ShowMidiProblem(&dialog, autorun, midiError);
      autorun.PressExecute(dialog);
    });
    if (!stopSignals_->Received()) dialog.exec();
    dialog_ = nullptr;
  }
  platform::StopMidiService();
  if (autorun.enabled()) exitStatus_ = autorun.completed() ? 0 : 1;
  return false;
}

}  // namespace q9m::app
