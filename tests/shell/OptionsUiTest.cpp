// The options dialog: its controls in their groups, the options it loads
// from the settings store, the track bar and the two-tailed caption that
// follow their check boxes, what the analysis sees (Current), Return and
// the close box, and "Sa&ve options".
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "AnalysisOptions.h"
#include "QtSettingsStore.h"
#include "TOptions.h"

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace kelvorin {

[[maybe_unused]] static void PrintTo(const MemorySettingsStore::Write& write, std::ostream* out) {
    *out << write.Section << "/" << write.Name << "=\"" << write.Value << '"';
}

namespace {

// Each stored option with its check box and design caption, in the order of
// the settings section.
struct OptionControl {
    const char* Name;
    int CheckBox;
    const char* Caption;
    bool Default;
};
const std::array<OptionControl, 12> kOptions = {{
    {"Observed", 1, "&Observed numbers", true},
    {"Expected", 2, "&Expected numbers", false},
    {"Column", 7, "Column percentages", false},
    {"Row", 12, "Row percentages", false},
    {"ExaLRtest", 3, "&Likelihood ratio", true},
    {"ExaCStest", 4, "&Chi Square", false},
    {"AppLRtest", 5, "Likelihood &ratio", false},
    {"AppCStest", 6, "Chi &Square", false},
    {"CountPos", 11, "Fisher", true},
    {"Details", 8, "&Write details to a file", false},
    {"2x2twotail", 9, "&Two tailed test", false},
    {"2x2onetail", 10, "O&ne tailed test", false},
}};

class OptionsDialog : public ::testing::Test {
protected:
    // The dialog as start-up creates it, reading the store as it is now.
    TOptions& Create() {
        dialog = std::make_unique<TOptions>(settings);
        return *dialog;
    }

    QCheckBox* Box(int number) const { return dialog->findChild<QCheckBox*>(QString("CheckBox%1").arg(number)); }
    QSlider* Track() const { return dialog->findChild<QSlider*>("TrackBar1"); }
    // The track bar would be seen when the dialog is shown.
    bool TrackShown() const { return Track()->isVisibleTo(dialog.get()); }
    QRadioButton* Item(const QString& caption) const {
        for (QRadioButton* item : dialog->findChild<QGroupBox*>("RadioGroup1")->findChildren<QRadioButton*>())
            if (item->text() == caption) return item;
        return nullptr;
    }
    void Store(const std::string& name, const std::string& value) { settings.WriteText("Option", name, value); }

    MemorySettingsStore settings;
    std::unique_ptr<TOptions> dialog;
};

// ------------------------------------------------------------------ layout

TEST_F(OptionsDialog, GroupsHoldTheirControlsInOrderWithTheirCaptions) {
    Create();
    EXPECT_EQ(dialog->objectName(), QString("Options"));
    EXPECT_EQ(dialog->windowTitle(), QString("Options"));

    struct Expected {
        QString Caption;
        QStringList Boxes;
    };
    const std::vector<Expected> groups = {
        {"Tables", {"CheckBox1", "CheckBox2", "CheckBox7", "CheckBox12"}},
        {"Exact tests", {"CheckBox3", "CheckBox4", "CheckBox11"}},
        {"Approximately tests", {"CheckBox5", "CheckBox6"}},
        {"Sample points", {"CheckBox8"}},
        {"2 x 2 tables", {"CheckBox9", "CheckBox10"}},
        {"Input of data", {}},
    };
    // The group boxes from top to bottom.
    dialog->show();
    QList<QGroupBox*> boxes = dialog->findChildren<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly);
    std::sort(boxes.begin(), boxes.end(), [](QGroupBox* a, QGroupBox* b) { return a->y() < b->y(); });
    ASSERT_EQ(boxes.size(), static_cast<qsizetype>(groups.size()));
    for (std::size_t k = 0; k < groups.size(); ++k) {
        QGroupBox* box = boxes[static_cast<qsizetype>(k)];
        EXPECT_EQ(box->title(), groups[k].Caption);
        QList<QCheckBox*> inside = box->findChildren<QCheckBox*>();
        std::sort(inside.begin(), inside.end(), [](QCheckBox* a, QCheckBox* b) { return a->y() < b->y(); });
        QStringList names;
        for (QCheckBox* checkBox : inside) names << checkBox->objectName();
        EXPECT_EQ(names, groups[k].Boxes) << groups[k].Caption.toStdString();
    }
    EXPECT_EQ(boxes.last()->objectName(), QString("RadioGroup1"));

    for (const OptionControl& option : kOptions) {
        ASSERT_NE(Box(option.CheckBox), nullptr) << option.Name;
        EXPECT_EQ(Box(option.CheckBox)->text(), QString(option.Caption)) << option.Name;
    }
}

TEST_F(OptionsDialog, TrackBarSitsRightOfDetailsWithFiveTickedSteps) {
    Create();
    QSlider* track = Track();
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->parentWidget(), Box(8)->parentWidget());
    EXPECT_EQ(track->orientation(), Qt::Horizontal);
    EXPECT_EQ(track->minimum(), 0);
    EXPECT_EQ(track->maximum(), 4);
    EXPECT_EQ(track->tickInterval(), 1);
    EXPECT_EQ(track->tickPosition(), QSlider::TicksBelow);
    Box(8)->setChecked(true);
    dialog->show();
    EXPECT_GE(track->x(), Box(8)->x() + Box(8)->width());
    EXPECT_LT(track->y(), Box(8)->y() + Box(8)->height());
}

TEST_F(OptionsDialog, RadioGroupAndButtonsInTheirOrder) {
    Create();
    ASSERT_NE(Item("Row by row"), nullptr);
    ASSERT_NE(Item("Column by column"), nullptr);
    dialog->show();
    EXPECT_LT(Item("Row by row")->y(), Item("Column by column")->y());

    QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
    std::sort(buttons.begin(), buttons.end(), [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
    QStringList captions;
    for (QPushButton* button : buttons) captions << button->text();
    EXPECT_EQ(captions, QStringList({"&Help", "Sa&ve options", "Ret&urn"}));
    EXPECT_EQ(dialog->Button3()->text(), QString("&Help"));
    EXPECT_EQ(dialog->Button1()->text(), QString("Sa&ve options"));
    EXPECT_EQ(dialog->Button2()->text(), QString("Ret&urn"));
}

// ------------------------------------------------------------- first start

TEST_F(OptionsDialog, FirstStartWithoutSettingsShowsTheDefaults) {
    Create();
    for (const OptionControl& option : kOptions)
        EXPECT_EQ(Box(option.CheckBox)->isChecked(), option.Default) << option.Name;
    EXPECT_EQ(Track()->value(), 1);
    EXPECT_FALSE(TrackShown());
    EXPECT_TRUE(Item("Row by row")->isChecked());
    EXPECT_FALSE(Item("Column by column")->isChecked());
    // The two-tailed box keeps its design caption with its accelerator.
    EXPECT_EQ(Box(9)->text(), QString("&Two tailed test"));

    const AnalysisOptions current = dialog->Current();
    EXPECT_TRUE(current.Observed);
    EXPECT_TRUE(current.ExaLRtest);
    EXPECT_TRUE(current.CountPos);
    EXPECT_FALSE(current.Expected || current.Column || current.Row || current.ExaCStest || current.AppLRtest ||
                 current.AppCStest || current.Details || current.Opt2x2twotail || current.Opt2x2onetail);
    EXPECT_EQ(current.Track, 1);
    EXPECT_EQ(current.InputData, 0);
    // Reading writes nothing.
    EXPECT_TRUE(settings.Writes().empty());
}

TEST_F(OptionsDialog, StoredOptionsAreLoadedIntoTheControls) {
    // Every boolean stored as the opposite of its default.
    for (const OptionControl& option : kOptions) Store(option.Name, option.Default ? "0" : "1");
    Store("Track", "3");
    Store("InputData", "1");
    Create();
    for (const OptionControl& option : kOptions)
        EXPECT_EQ(Box(option.CheckBox)->isChecked(), !option.Default) << option.Name;
    EXPECT_EQ(Track()->value(), 3);
    EXPECT_TRUE(Item("Column by column")->isChecked());
    // Loading ran the change handlers: the stored Details shows the track
    // bar, the stored two-tailed test warns from the start.
    EXPECT_TRUE(TrackShown());
    EXPECT_EQ(Box(9)->text(), QString("Two tailed test - not recommended!"));
}

TEST_F(OptionsDialog, AStoredBooleanIsTrueForAnyNonZeroInteger) {
    Store("Expected", "2");
    Store("Observed", "0");
    Store("Row", "-1");
    Create();
    EXPECT_TRUE(Box(2)->isChecked());
    EXPECT_FALSE(Box(1)->isChecked());
    EXPECT_TRUE(Box(12)->isChecked());
}

TEST_F(OptionsDialog, UnreadableStoredValuesGiveTheirDefaultsAndTheRestIsStillRead) {
    // A value of another type than text, and texts that are no decimal
    // integer, count as not stored.
    settings.SetNonText("Option", "Observed");
    settings.SetNonText("Option", "Track");
    Store("CountPos", "yes");
    Store("InputData", "1.0");
    Store("Expected", "1");
    Store("2x2onetail", "1");
    Create();
    EXPECT_TRUE(Box(1)->isChecked());
    EXPECT_TRUE(Box(11)->isChecked());
    EXPECT_EQ(Track()->value(), 1);
    EXPECT_TRUE(Item("Row by row")->isChecked());
    // Values after the unreadable ones are read as usual.
    EXPECT_TRUE(Box(2)->isChecked());
    EXPECT_TRUE(Box(10)->isChecked());
}

TEST_F(OptionsDialog, StoredTrackIsClampedToTheTrackBar) {
    Store("Track", "7");
    Create();
    EXPECT_EQ(Track()->value(), 4);
    EXPECT_EQ(dialog->Current().Track, 4);

    Store("Track", "-2");
    Create();
    EXPECT_EQ(Track()->value(), 0);
    EXPECT_EQ(dialog->Current().Track, 0);
}

TEST_F(OptionsDialog, StoredInputDataOutsideTheItemsIsClamped) {
    Store("InputData", "5");
    Create();
    EXPECT_TRUE(Item("Column by column")->isChecked());
    EXPECT_EQ(dialog->Current().InputData, 1);

    // Below -1 becomes -1: no item selected.
    Store("InputData", "-3");
    Create();
    EXPECT_FALSE(Item("Row by row")->isChecked());
    EXPECT_FALSE(Item("Column by column")->isChecked());
    EXPECT_EQ(dialog->RadioGroup1ItemIndex(), -1);
    EXPECT_EQ(dialog->Current().InputData, -1);

    Store("InputData", "-1");
    Create();
    EXPECT_EQ(dialog->Current().InputData, -1);
}

// ------------------------------------------------------ control behaviour

TEST_F(OptionsDialog, DetailsShowsAndHidesTheTrackBarWithoutMovingIt) {
    Create();
    ASSERT_FALSE(TrackShown());
    Box(8)->click();
    EXPECT_TRUE(TrackShown());
    Track()->setValue(3);
    Box(8)->click();
    EXPECT_FALSE(TrackShown());
    EXPECT_EQ(Track()->value(), 3);
    Box(8)->click();
    EXPECT_TRUE(TrackShown());
    EXPECT_EQ(Track()->value(), 3);
}

TEST_F(OptionsDialog, TwoTailedCaptionWarnsWhileChecked) {
    Create();
    Box(9)->click();
    EXPECT_EQ(Box(9)->text(), QString("Two tailed test - not recommended!"));
    Box(9)->click();
    EXPECT_EQ(Box(9)->text(), QString("Two tailed test"));
    // The one-tailed box is not affected.
    EXPECT_EQ(Box(10)->text(), QString("O&ne tailed test"));
}

TEST_F(OptionsDialog, EachCheckBoxSetsItsOwnOption) {
    Create();
    for (std::size_t k = 0; k < kOptions.size(); ++k) {
        const AnalysisOptions before = dialog->Current();
        Box(kOptions[k].CheckBox)->click();
        const AnalysisOptions after = dialog->Current();
        for (std::size_t m = 0; m < kOptions.size(); ++m) {
            const int index = static_cast<int>(m);
            if (m == k)
                EXPECT_NE(BooleanOption(after, index), BooleanOption(before, index)) << kOptions[k].Name;
            else
                EXPECT_EQ(BooleanOption(after, index), BooleanOption(before, index))
                    << "CheckBox" << kOptions[k].CheckBox << " changed " << kOptions[m].Name;
        }
    }
}

TEST_F(OptionsDialog, CurrentFollowsTheTrackBarAndTheRadioGroup) {
    Create();
    Track()->setValue(4);
    Item("Column by column")->click();
    EXPECT_EQ(dialog->Current().Track, 4);
    EXPECT_EQ(dialog->Current().InputData, 1);
    Item("Row by row")->click();
    EXPECT_EQ(dialog->Current().InputData, 0);
}

TEST_F(OptionsDialog, SetCurrentSetsTheControls) {
    Create();
    AnalysisOptions options;
    options.Observed = false;
    options.Column = true;
    options.Details = true;
    options.Opt2x2twotail = true;
    options.Track = 2;
    options.InputData = 1;
    dialog->SetCurrent(options);
    EXPECT_FALSE(Box(1)->isChecked());
    EXPECT_TRUE(Box(7)->isChecked());
    EXPECT_TRUE(TrackShown());
    EXPECT_EQ(Box(9)->text(), QString("Two tailed test - not recommended!"));
    EXPECT_EQ(Track()->value(), 2);
    EXPECT_TRUE(Item("Column by column")->isChecked());
    EXPECT_EQ(dialog->Current(), options);
}

// ------------------------------------------------------- closing and saving

TEST_F(OptionsDialog, ReturnWithoutSavingChangesTheRunButNotTheStore) {
    Create();
    dialog->show();
    Box(2)->click();  // Expected on
    Box(3)->click();  // exact likelihood ratio off
    Item("Column by column")->click();
    dialog->Button2()->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);

    // What the next analysis reads.
    const AnalysisOptions current = dialog->Current();
    EXPECT_TRUE(current.Expected);
    EXPECT_FALSE(current.ExaLRtest);
    EXPECT_EQ(current.InputData, 1);

    // The next start reads the store: the old choices are back.
    EXPECT_TRUE(settings.Writes().empty());
    TOptions restarted(settings);
    EXPECT_EQ(restarted.Current(), AnalysisOptions{});
}

TEST_F(OptionsDialog, CloseBoxKeepsTheControlsAsTheyAre) {
    Create();
    dialog->show();
    Box(6)->click();
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_TRUE(dialog->Current().AppCStest);
    EXPECT_TRUE(settings.Writes().empty());
}

TEST_F(OptionsDialog, SaveWritesTheSectionInOrderAndStaysOpen) {
    Create();
    dialog->show();
    Box(8)->click();  // Details on
    Track()->setValue(3);
    Item("Column by column")->click();
    Box(1)->click();  // Observed off
    Box(9)->click();  // two-tailed on
    dialog->Button1()->click();
    EXPECT_TRUE(dialog->isVisible());

    using W = MemorySettingsStore::Write;
    const std::vector<W> expected = {
        {"Option", "Observed", "0"},   {"Option", "Expected", "0"},   {"Option", "Column", "0"},
        {"Option", "Row", "0"},        {"Option", "ExaLRtest", "1"},  {"Option", "ExaCStest", "0"},
        {"Option", "AppLRtest", "0"},  {"Option", "AppCStest", "0"},  {"Option", "CountPos", "1"},
        {"Option", "Details", "1"},    {"Option", "2x2twotail", "1"}, {"Option", "2x2onetail", "0"},
        {"Option", "Track", "3"},      {"Option", "InputData", "1"},
    };
    EXPECT_EQ(settings.Writes(), expected);

    // The next start shows what was saved.
    TOptions restarted(settings);
    EXPECT_EQ(restarted.Current(), dialog->Current());
    dialog->close();
}

TEST_F(OptionsDialog, SaveWritesNoItemSelectedAsMinusOne) {
    Store("InputData", "-7");
    Create();
    settings.Clear();
    dialog->Button1()->click();
    ASSERT_EQ(settings.Writes().size(), 14u);
    EXPECT_EQ(settings.Writes().back(), (MemorySettingsStore::Write{"Option", "InputData", "-1"}));
}

// The section "Option" of the program's own store, emptied.
void ForgetStoredOptions() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Morvo", "Zelkat").remove("Option");
}

TEST_F(OptionsDialog, SavedOptionsReachTheUsersStore) {
    // The store the program uses (in the test's own settings folder).
    ForgetStoredOptions();
    {
        QtSettingsStore store;
        store.WriteText("Option", "Track", "1");
        TOptions options(store);
        options.CheckBox(5)->click();
        options.TrackBar1()->setValue(0);
        options.Button1Click();
    }
    QtSettingsStore reopened;
    EXPECT_EQ(reopened.ReadText("Option", "AppLRtest"), std::optional<std::string>("1"));
    EXPECT_EQ(reopened.ReadText("Option", "Track"), std::optional<std::string>("0"));
    TOptions restarted(reopened);
    EXPECT_TRUE(restarted.Current().AppLRtest);
    EXPECT_EQ(restarted.Current().Track, 0);
    ForgetStoredOptions();
}

}  // namespace
}  // namespace kelvorin
