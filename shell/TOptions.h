// The options dialog: holds the user's choices of report sections, detail
// level and entry order, loaded from the settings store section "Option"
// when the dialog is created. Its controls are where the choices live while
// the program runs: the analysis run and the entry grid read them from here
// (Current), whether or not they were saved.
#pragma once

#include <QDialog>
#include <QPoint>
#include <optional>

#include "AnalysisOptions.h"
#include "SettingsStore.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QKeyEvent;
class QPushButton;
class QRadioButton;
class QSlider;

namespace kelvorin {

class TOptions : public QDialog, public OptionsProvider {
    Q_OBJECT
public:
    TOptions(SettingsStore& settings, QWidget* parent = nullptr);

    // Puts the dialog's frame with its top left corner at LEFT, TOP for its
    // next showing.
    void PlaceAt(int left, int top);

    // The options as the controls now stand.
    AnalysisOptions Current() const override;
    // Sets the controls to OPTIONS (their change handlers run).
    void SetCurrent(const AnalysisOptions& options);

    // Reads the stored options (defaults for what is not stored) into the
    // controls, then shows the track bar exactly when Details is checked.
    void FormCreate();

    // Event handlers.
    void Button1Click();    // "Sa&ve options": writes the section "Option" (an error box when it cannot)
    void Button3Click();    // "&Help": the topic "IDH_Options" of the dialog's help file
    void CheckBox8Click();  // Details: the track bar follows it
    void CheckBox9Click();  // two-tailed 2 x 2 test: its caption warns while checked

    // The controls, by their names.
    QCheckBox* CheckBox(int number) const;  // CheckBox1 .. CheckBox12
    QSlider* TrackBar1() const { return trackBar1_; }
    QGroupBox* RadioGroup1() const { return radioGroup1_; }
    // The radio group's selected index: 0 "Row by row", 1 "Column by
    // column", -1 none.
    int RadioGroup1ItemIndex() const;
    void SetRadioGroup1ItemIndex(int index);
    QPushButton* Button1() const { return button1_; }
    QPushButton* Button2() const { return button2_; }
    QPushButton* Button3() const { return button3_; }

protected:
    // F1 anywhere in the dialog asks for the dialog's help context.
    void keyPressEvent(QKeyEvent* event) override;
    // The dialog opens where the main window puts it, moved only as far as
    // it takes to lie within its screen's available area (it is taller than
    // the main window, and its buttons are at its foot).
    void showEvent(QShowEvent* event) override;

private:
    std::optional<QPoint> placedAt_;  // where PlaceAt put the frame, until the dialog is shown
    SettingsStore& settings_;
    QCheckBox* checkBoxes_[12] = {};
    QSlider* trackBar1_ = nullptr;
    QGroupBox* radioGroup1_ = nullptr;
    QButtonGroup* radioItems_ = nullptr;
    QPushButton* button1_ = nullptr;
    QPushButton* button2_ = nullptr;
    QPushButton* button3_ = nullptr;
};

}  // namespace kelvorin
