#pragma once

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

protected:
    SharedWork() = default;
    SharedWork(const SharedWork&) = delete;
    SharedWork& operator=(const SharedWork&) = delete;
    ~SharedWork() = default;
};

}  // namespace kelvorin
