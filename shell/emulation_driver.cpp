#include "shell/emulation_driver.h"

#include "shell/display_widget.h"
#include "system/rewind.h"
#include "system/system.h"

EmulationDriver::EmulationDriver(bool font_loaded, QObject* parent)
    : QObject(parent), font_loaded_(font_loaded) {}

EmulationDriver::~EmulationDriver() { Stop(); }

void EmulationDriver::Start(DisplayWidget* display) {
    if (!SystemRunning()) SystemStart(&DisplayWidget::FrameReady, display);
}

// The processor sees QUIT before every instruction and during its pacing wait, so this is prompt
// whatever it is doing, HALT and stalls included.
void EmulationDriver::Stop() {
    SystemStop();
    SystemSetTurbo(false);
}

bool EmulationDriver::Running() const { return SystemRunning(); }

bool EmulationDriver::Paused() const { return SystemPaused(); }

void EmulationDriver::SetPaused(bool paused) {
    SystemPause(paused);
    emit PauseChanged(SystemPaused());
}

bool EmulationDriver::Turbo() const { return SystemTurbo(); }

void EmulationDriver::SetTurboChosen(bool on) {
    turbo_chosen_ = on;
    ApplyTurbo();
}

void EmulationDriver::SetTurboHeld(bool held) {
    turbo_held_ = held;
    ApplyTurbo();
}

void EmulationDriver::ApplyTurbo() {
    const bool on = turbo_held_ || turbo_chosen_;
    if (on == SystemTurbo()) return;
    SystemSetTurbo(on);
    emit PaceChanged();
}

void EmulationDriver::Reset() { SystemReset(); }

bool EmulationDriver::PowerCycle(const char** missing) {
    RewindClear(); // the machine before is gone
    const bool loaded = SystemPowerCycle(missing);
    emit PauseChanged(SystemPaused());
    emit PaceChanged(); // last: the speed figure starts after the pause field changed
    return loaded;
}
