#include "LargePageMemory.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace kelvorin {

namespace {

std::size_t Rounded(std::size_t bytes) {
    return (bytes + LargePageMemory::kLargePage - 1) & ~(LargePageMemory::kLargePage - 1);
}

bool IsLarge(std::size_t bytes, std::size_t alignment) {
    return bytes >= LargePageMemory::kLargeBlock && alignment <= LargePageMemory::kLargePage;
}

}  // namespace

LargePageMemory& LargePageMemory::InstallAsDefault() {
    // Never destroyed: arrays made with it may outlive any static order.
    static LargePageMemory* const memory = [] {
        auto* m = new LargePageMemory;
        std::pmr::set_default_resource(m);
        return m;
    }();
    return *memory;
}

void* LargePageMemory::do_allocate(std::size_t bytes, std::size_t alignment) {
    if (!IsLarge(bytes, alignment)) return std::pmr::new_delete_resource()->allocate(bytes, alignment);
    const std::size_t size = Rounded(bytes);
    if (size < bytes) throw std::bad_alloc();
    // Map one large page more than needed and unmap the ends, so that the
    // block starts on a large page.
    const std::size_t mapped = size + kLargePage;
    if (mapped < size) throw std::bad_alloc();
    void* const p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (start + kLargePage - 1) & ~(std::uintptr_t{kLargePage} - 1);
    if (aligned > start) munmap(p, aligned - start);
    const std::size_t tail = mapped - (aligned - start) - size;
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
    // Advice only: without large pages the block is still good memory.
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void LargePageMemory::do_deallocate(void* p, std::size_t bytes, std::size_t alignment) {
    if (!IsLarge(bytes, alignment)) {
        std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
        return;
    }
    munmap(p, Rounded(bytes));
}

}  // namespace kelvorin
