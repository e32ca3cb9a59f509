// How many processor cores the program may run on.
#pragma once

namespace kelvorin {

// The cores the calling thread's processor affinity allows (as the system
// reports them; at least 1). A program started on fewer cores than the
// machine has (a job scheduler's share, `taskset`) sees only those.
unsigned AvailableCores();

}  // namespace kelvorin
