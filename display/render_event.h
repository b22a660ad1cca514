// The render event: an auto-reset signal from the 20 ms timer to the RenderThread. It carries no
// data: signals that arrive while a frame is being drawn collapse into one further frame. Close()
// wakes the waiter for good so that the front end can join the thread.
#pragma once

#include <condition_variable>
#include <mutex>

class RenderEvent {
  public:
    // Sets the event; wakes one waiter. Any thread.
    void Signal();
    // Blocks until the event is set, then clears it and returns true; returns false once closed.
    bool Wait();
    // Makes every present and future Wait return false. Any thread.
    void Close();

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool signalled_ = false;
    bool closed_ = false;
};
