// q9m-updater: the updater with its dialog, on the real MIDI ports.
//
// It takes no arguments of its own; the toolkit's options (-platform, -style, ...) are
// honoured. Up to 20 copies run side by side, one per device; see app/autorun.h for the
// automation that the demo and the end-to-end tests use.
#include "app/updator_app.h"

int main(int argc, char** argv) {
  return q9m::app::theApp.Run(argc, argv);
}
