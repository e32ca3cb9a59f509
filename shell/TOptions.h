// The options dialog: holds the user's choices of report sections, detail
// level and entry order, loaded from the settings store section "Option"
// when the dialog is created. The analysis run and the entry grid read them
// from here.
#pragma once

#include <QDialog>

#include "AnalysisOptions.h"
#include "SettingsStore.h"

namespace kelvorin {

class TOptions : public QDialog, public OptionsProvider {
    Q_OBJECT
public:
    TOptions(SettingsStore& settings, QWidget* parent = nullptr);

    AnalysisOptions Current() const override { return options_; }
    void SetCurrent(const AnalysisOptions& options) { options_ = options; }

    // Reads the stored options (defaults for what is not stored).
    void FormCreate();

private:
    SettingsStore& settings_;
    AnalysisOptions options_;
};

}  // namespace kelvorin
