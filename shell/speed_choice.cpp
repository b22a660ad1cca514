#include "shell/speed_choice.h"

#include "shell/preferences.h"
#include "system/files.h"
#include "system/system.h"

int CurrentSpeed() {
    const int32_t pace = SystemChosenPace();
    if (pace == -1) return SystemPacePercent();
    return pace > 0 ? IdleIterationsSpeed : FastestSpeed;
}

bool ChooseSpeed(int speed) {
    if (speed == IdleIterationsSpeed) return false; // never chosen: only kept
    const int32_t waitstates = speed == FastestSpeed ? 0 : -1;
    const bool changed = SystemWaitstates() != waitstates;
    SystemSetRunPace(false);
    SystemSetWaitstates(waitstates);
    const int percent = speed == FastestSpeed ? 100 : speed;
    SystemSetPacePercent(percent);
    SaveSpeedPercent(percent);
    return changed;
}

void ApplySavedSpeed() { SystemSetPacePercent(SavedSpeedPercent()); }

QString SpeedName(int speed, int32_t waitstates) {
    if (speed == FastestSpeed) return "As fast as possible";
    if (speed == IdleIterationsSpeed)
        return QString("%1 idle iterations per instruction").arg(waitstates);
    if (speed == 100) return "100 % (a real ABC80)";
    return QString("%1 %").arg(speed);
}
