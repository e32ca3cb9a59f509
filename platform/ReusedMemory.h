// Freed memory kept for the next use instead of handed back to the system.
//
// An analysis builds and frees lists and tables of tens of kilobytes to
// tens of megabytes, and the next analysis (or the next pass of the same
// one) builds them again. The C library hands blocks from 128 KiB up back
// to the system as they are freed, and raises that bound only as larger
// blocks come and go; every block asked for again is then fresh memory,
// each of its pages cleared by the system at its first touch (on the 4 x 4
// benchmark table of 90 million sample points some 800 such faults per
// analysis, a third of its time on a virtual machine).
#pragma once

namespace kelvorin {

// Serves blocks of up to 32 MiB from the program's heap and keeps up to
// 64 MiB of freed memory at its end, the bounds the C library itself
// reaches after freeing such blocks. Where the C library offers no such
// settings (or the memory is a sanitizer's), does nothing and returns
// false.
bool KeepFreedMemoryForReuse();

}  // namespace kelvorin
