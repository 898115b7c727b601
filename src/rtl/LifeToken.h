#pragma once
// Tells code that calls out of an object (an event handler, a call handed to
// another thread) whether the object was destroyed meanwhile: a handler may
// free the object that raised its event. Take a TLifeWatch before the call
// and leave at once, touching nothing, when it says the object has ended.

#include <atomic>
#include <memory>

class TLifeWatch {
public:
    explicit operator bool() const { return Alive_->load(); }

private:
    friend class TLifeToken;
    explicit TLifeWatch(std::shared_ptr<const std::atomic<bool>> alive) : Alive_(std::move(alive)) {}
    std::shared_ptr<const std::atomic<bool>> Alive_;
};

// A member of the watched object; its destructor (or End, called first
// thing by the object's destructor) ends every watch.
class TLifeToken {
public:
    TLifeToken() = default;
    ~TLifeToken() { End(); }
    TLifeToken(const TLifeToken&) = delete;
    TLifeToken& operator=(const TLifeToken&) = delete;

    TLifeWatch Watch() const { return TLifeWatch(Alive_); }
    void End() { Alive_->store(false); }

private:
    std::shared_ptr<std::atomic<bool>> Alive_ = std::make_shared<std::atomic<bool>>(true);
};
