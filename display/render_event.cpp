#include "display/render_event.h"

void RenderEvent::Signal() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    wake_.notify_one();
}

bool RenderEvent::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return signalled_ || closed_; });
    if (closed_) return false;
    signalled_ = false;
    return true;
}

void RenderEvent::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    wake_.notify_all();
}
