#include "ProcessorCores.h"

#include <QThread>

namespace kelvorin {

unsigned AvailableCores() {
    // (Qt counts the cores of the affinity mask where the system has one.)
    const int cores = QThread::idealThreadCount();
    return cores > 1 ? static_cast<unsigned>(cores) : 1u;
}

}  // namespace kelvorin
