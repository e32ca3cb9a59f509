#include "TAbout.h"

namespace kelvorin {

TAbout::TAbout(QWidget* parent) : QDialog(parent) {
    setObjectName("About");
    setWindowTitle("About");
}

}  // namespace kelvorin
