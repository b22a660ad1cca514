// Holding the machine: its processor stopped at an instruction boundary while the front end's
// thread reads or changes it (a saved state taken or put back, a rewind step, the debugger's
// breakpoints and trace), then let go on.
#pragma once

// Stops a running machine for as long as it lives. It raises PAUSE in the control flags only, not
// the pause the user sets: the clock goes on ticking (a tick due meanwhile waits in the flags), so
// a hold costs the machine none of its time. A machine whose threads are not running, or that
// stands paused already, is at a boundary as it is. When the hold ends, a pause taken meanwhile (a
// debugger stop on the processor's thread, the user's) stays. Holds nest. Front end's thread.
class MachineHold {
  public:
    MachineHold();
    ~MachineHold();
    MachineHold(const MachineHold&) = delete;
    MachineHold& operator=(const MachineHold&) = delete;
    // False when the processor did not stop within a generous limit (its thread stuck in a host
    // call): the machine is then not to be read or changed.
    bool held() const { return held_; }

  private:
    bool raised_ = false;
    bool held_ = true;
};
