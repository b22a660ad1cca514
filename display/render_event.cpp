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
    wake_.wait(lock, [this] { return signalled_ || redraw_ || closed_; });
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
