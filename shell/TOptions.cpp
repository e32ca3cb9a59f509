#include "TOptions.h"

#include "StoredOptions.h"

namespace kelvorin {

TOptions::TOptions(SettingsStore& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
    setObjectName("Options");
    setWindowTitle("Options");
    FormCreate();
}

void TOptions::FormCreate() { options_ = ReadStoredOptions(settings_); }

}  // namespace kelvorin
