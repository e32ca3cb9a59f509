#include "ApplicationSetup.h"

#include <QCoreApplication>
#include <clocale>

#ifndef KELVORIN_VERSION
// The project version, for a build that does not pass its own.
#define KELVORIN_VERSION "0.1.0"
#endif

namespace kelvorin {

void SetUpApplication() {
    QCoreApplication::setApplicationName("Kelvorin");
    QCoreApplication::setApplicationVersion(KELVORIN_VERSION);
    std::setlocale(LC_NUMERIC, "C");
}

}  // namespace kelvorin
