// The small interfaces through which the analysis engine reaches the outside
// world. The desktop program implements them over its widgets, the batch
// command line over memory and standard streams, the tests with plain fakes.
// Nothing here may depend on a window toolkit.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvorin {

// A grid of editable text cells addressed as (column, row), both from 0.
// The entry grid and the proportions grid are grids of this kind.
class TextGrid {
public:
    virtual ~TextGrid() = default;
    virtual int RowCount() const = 0;
    virtual int ColCount() const = 0;
    virtual void SetRowCount(int rows) = 0;
    virtual void SetColCount(int cols) = 0;
    virtual std::string Cell(int col, int row) const = 0;
    virtual void SetCell(int col, int row, const std::string& text) = 0;
    // Repaint after a batch of changes; a grid without a screen ignores it.
    virtual void Redraw() {}
    // Every cell made empty, the grid's size kept.
    void EmptyCells() {
        for (int row = 0; row < RowCount(); ++row)
            for (int col = 0; col < ColCount(); ++col) SetCell(col, row, "");
    }
};

// The report pane: lines are appended one at a time, without terminators.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void AppendLine(const std::string& line) = 0;
    virtual void Clear() = 0;
    virtual std::vector<std::string> Lines() const = 0;
};

// The one text panel of the main window's status bar; the latest writer wins.
// A progress display of a running analysis is a count followed by
// kBreakHint, and only those texts end with it.
inline constexpr std::string_view kBreakHint = "  Click to break";
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void SetText(const std::string& text) = 0;
};

// Processes pending user-interface events once. Called at every progress
// display of an enumeration; this is the only point where a running analysis
// can be re-entered (by the break-off request).
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void ProcessPendingEvents() = 0;
};

// Modal message boxes.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Information or error with a caption and a single OK button.
    virtual void Show(const std::string& text, const std::string& caption) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // The platform's standard error dialog (error icon, standard caption) with
    // a single Abort button; it only informs.
    virtual void ShowErrorAbort(const std::string& text) { Show(text, "Error"); }
};

// The local clock and its texts. Date-time values count days since
// 30 December 1899; the fraction is the time of day.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double Now() const = 0;
    // The user's short date format.
    virtual std::string ShortDateText(double dateTime) const = 0;
    // The user's long time format: hours, minutes, whole seconds of the day.
    virtual std::string LongTimeText(double dateTime) const = 0;
};

// Menu items whose enabled state the analysis run (the first four) and the
// Table commands change.
enum class MenuItem { Save1, Newtable1, Options1, Results1, fromsamefile1, tosamefile1 };

class MenuStates {
public:
    virtual ~MenuStates() = default;
    virtual void SetEnabled(MenuItem item, bool enabled) = 0;
};

// A modal file dialog that remembers its file name between showings, as the
// toolkit's dialogs do. Its filter and default extension belong to the
// implementation.
class FileDialog {
public:
    virtual ~FileDialog() = default;
    virtual void SetFileName(const std::string& name) = 0;
    virtual std::string FileName() const = 0;
    // Whether a save dialog asks before it takes an existing file: on (as
    // it starts) for a file the caller replaces, off for one it appends to.
    // A dialog shared by both kinds of caller is set by each before Execute;
    // the setting lasts until it is changed.
    virtual void SetConfirmReplace(bool confirm) = 0;
    // Shows the dialog; true when the user confirmed a name.
    virtual bool Execute() = 0;
};

// The proportions window shown modally for a typed one-way table.
class ModalWindow {
public:
    virtual ~ModalWindow() = default;
    // Shows the window modally; true when it closed with the result OK.
    virtual bool ShowModalOk() = 0;
};

}  // namespace kelvorin
