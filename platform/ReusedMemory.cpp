#include "ReusedMemory.h"

#include <cstdlib>  // (which tells which C library this is)

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kelvorin {

bool KeepFreedMemoryForReuse() {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    constexpr int kMegabyte = 1 << 20;
    // (Either setting alone leaves the other bound where it is and stops
    // the C library adjusting both: the blocks then still come and go.)
    return mallopt(M_MMAP_THRESHOLD, 32 * kMegabyte) == 1 && mallopt(M_TRIM_THRESHOLD, 64 * kMegabyte) == 1;
#else
    return false;
#endif
}

}  // namespace kelvorin
