#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace kelvorin {

// Work in chunks that other threads may take while the thread that owns it
// does them too. The owner offers it, and withdraws it (stopping the
// sharing first) before it may be destroyed, once no thread is in Help.
class SharedWork {
public:
    // Does chunks no thread has taken until none is left, with tick as the
    // helping thread's progress (it may throw to stop: the chunk in hand is
    // then left to the owner, who does it again).
    virtual void Help(const std::function<void(std::uint64_t)>& tick) = 0;
    // Stops the sharing: no thread takes another chunk.
    void Stop() { stopped_.store(true, std::memory_order_relaxed); }
    bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }

protected:
    SharedWork() = default;
    SharedWork(const SharedWork&) = delete;
    SharedWork& operator=(const SharedWork&) = delete;
    ~SharedWork() = default;

private:
    std::atomic<bool> stopped_{false};
};

// Work offered to other threads while this lives (where there is someone
// to offer it to and it has more than one chunk). However the owner leaves,
// the sharing is stopped and the offer withdrawn first, which returns once
// no other thread is in the work.
template <typename Work>
class WorkOffer {
public:
    WorkOffer(Work& work, const std::function<void(Work*)>& offer, bool chunks) : work_(work), offer_(offer) {
        if (offer_ && chunks) offer_(&work_);
    }
    ~WorkOffer() {
        work_.Stop();
        if (offer_) offer_(nullptr);
    }
    WorkOffer(const WorkOffer&) = delete;
    WorkOffer& operator=(const WorkOffer&) = delete;

private:
    Work& work_;
    const std::function<void(Work*)>& offer_;
};

}  // namespace kelvorin
