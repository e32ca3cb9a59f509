// Memory for the analysis engine's large work arrays on large pages.
//
// The exact tests' network and integer count build lists of partial tables
// of tens to hundreds of megabytes, each touched once as it is filled. On
// ordinary 4 KiB pages every first touch is a page fault, and on a virtual
// machine such faults cost about as much as the filling itself; on 2 MiB
// pages there are 512 times fewer. This resource maps blocks of at least
// kLargeBlock bytes directly, aligned to 2 MiB and advised for transparent
// large pages, and passes smaller ones on to new and delete. Where the
// system has no such pages the advice is ignored and the blocks behave as
// ordinary mappings.
#pragma once

#include <cstddef>
#include <memory_resource>

namespace kelvorin {

class LargePageMemory final : public std::pmr::memory_resource {
public:
    static constexpr std::size_t kLargePage = std::size_t{2} << 20;
    static constexpr std::size_t kLargeBlock = std::size_t{1} << 20;

    // Makes a process-wide instance the default memory resource (which
    // the engine's work arrays use) and returns it; later calls return the
    // same one.
    static LargePageMemory& InstallAsDefault();

private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

}  // namespace kelvorin
