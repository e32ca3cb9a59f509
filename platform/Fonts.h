// The fixed-width font of the report pane and the results editor.
#pragma once

#include <QFont>

namespace kelvorin {

// "Courier New" 9 point; where it is missing, the system's fixed-pitch font
// at 9 point (reports are fixed-width text and must stay aligned).
QFont ReportFont();

}  // namespace kelvorin
