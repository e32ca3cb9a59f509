#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

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

    std::size_t Chunks() const { return chunks_; }
    // The next chunk no thread has taken; Chunks() once none is left (or
    // the sharing has stopped).
    std::size_t Take() {
        if (Stopped()) return chunks_;
        return std::min(next_.fetch_add(1, std::memory_order_relaxed), chunks_);
    }
    // Marks a chunk done (its results, the work's own, in place before)
    // and wakes the owner.
    void MarkDone(std::size_t chunk) {
        {
            const std::lock_guard<std::mutex> hold(finishing_);
            done_[chunk].store(true, std::memory_order_release);
        }
        finished_.notify_all();
    }
    bool IsDone(std::size_t chunk) const { return done_[chunk].load(std::memory_order_acquire); }
    // Waits up to the given time for a chunk to be done.
    void WaitFor(std::size_t chunk, std::chrono::milliseconds most) {
        std::unique_lock<std::mutex> hold(finishing_);
        finished_.wait_for(hold, most, [&] { return IsDone(chunk); });
    }

protected:
    explicit SharedWork(std::size_t chunks)
        : chunks_(chunks), done_(std::make_unique<std::atomic<bool>[]>(chunks)) {}
    SharedWork(const SharedWork&) = delete;
    SharedWork& operator=(const SharedWork&) = delete;
    ~SharedWork() = default;

private:
    std::atomic<bool> stopped_{false};
    std::size_t chunks_;
    std::unique_ptr<std::atomic<bool>[]> done_;
    std::atomic<std::size_t> next_{0};
    std::mutex finishing_;
    std::condition_variable finished_;
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
