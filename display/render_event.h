// The render event: an auto-reset signal from the 20 ms timer to the RenderThread. It carries no
// data: signals that arrive while a frame is being drawn collapse into one further frame. Close()
// wakes the waiter for good so that the front end can join the thread.
#pragma once

#include <condition_variable>
#include <mutex>

class RenderEvent {
  public:
    // Sets the event for a tick's frame; wakes one waiter. Any thread.
    void Signal();
    // Sets the event for a frame drawn between ticks (the screen changed since the last), which
    // is no tick of the blink's count. Any thread.
    void Redraw();
    // Blocks until the event is set, then clears it and returns true (tick, when given, says
    // whether a tick's Signal came); returns false once closed.
    bool Wait(bool* tick = nullptr);
    // Makes every present and future Wait return false. Any thread.
    void Close();
    // True while a Wait sleeps with the event clear: it has looked and found no frame to draw.
    // Any thread.
    bool Idle();

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool signalled_ = false;
    bool redraw_ = false;
    bool closed_ = false;
    int sleepers_ = 0;
};
