#pragma once
// An event that one thread sets while another raises it (a worker asks
// whether a handler is set, the window thread assigns one). Raising copies
// the handler under the lock and calls the copy, so a handler may also
// replace, clear or outlive itself while it runs.

#include <utility>

#include "win/CriticalSection.h"

template <class F>
class TSharedEvent {
public:
    TSharedEvent() = default;
    TSharedEvent(const TSharedEvent&) = delete;
    TSharedEvent& operator=(const TSharedEvent&) = delete;

    TSharedEvent& operator=(F handler) {
        TScopedLock<TCriticalSection> lock(Lock_);
        Handler_ = std::move(handler);
        return *this;
    }
    explicit operator bool() const {
        TScopedLock<TCriticalSection> lock(Lock_);
        return static_cast<bool>(Handler_);
    }
    F Get() const {
        TScopedLock<TCriticalSection> lock(Lock_);
        return Handler_;
    }
    // Calls the handler when one is set.
    template <class... Args>
    void operator()(Args&&... args) const {
        if (const F handler = Get())
            handler(std::forward<Args>(args)...);
    }

private:
    mutable TCriticalSection Lock_;
    F Handler_;
};
