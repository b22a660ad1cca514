#include "display/render_event.h"

void RenderEvent::Signal() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    wake_.notify_one();
}

void RenderEvent::Redraw() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        redraw_ = true;
    }
    wake_.notify_one();
}

bool RenderEvent::Wait(bool* tick) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!signalled_ && !redraw_ && !closed_) {
        ++sleepers_;
        wake_.wait(lock);
        --sleepers_;
    }
    if (closed_) return false;
    if (tick) *tick = signalled_;
    signalled_ = redraw_ = false;
    return true;
}

void RenderEvent::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    wake_.notify_all();
}

bool RenderEvent::Idle() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleepers_ > 0 && !signalled_ && !redraw_ && !closed_;
}
