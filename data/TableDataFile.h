// The table data file: plain text holding one or more tables as lines of
// whole numbers, each table block ended by a line without numbers and, after
// a one-row or one-column table, optionally followed by a block of weights in
// the same form. The reader works on the open DataFile of the analysis state
// and leaves it positioned after the line that ended the block, so successive
// calls read successive blocks. The writer appends the current table (or
// starts a new file) in the layout the reader reads back.
#pragma once

#include <cstdint>

#include "AnalysisState.h"
#include "Ports.h"
#include "TextFile.h"

namespace kelvorin {

// Most numbers scanned from one line; further numbers on the line are ignored.
inline constexpr int kScanLimit = 64;
// Most values on a line of a table block.
inline constexpr int kMaxTableValues = 60;
// Most rows of a table that the Read commands, Bulk processing and batch mode
// accept.
inline constexpr int kMaxTableRows = 50;
// Most lines of a block that ReadTableData stores in its grid: one more than
// a table may have, so that a block too long for a table still shows as one.
inline constexpr int kMaxStoredLines = kMaxTableRows + 1;

// Negative results of ReadTableData.
inline constexpr int kReadTooManyValues = -1;  // a table line of more than 60 values
inline constexpr int kReadRagged = -2;         // a line whose count differs from the first line's
inline constexpr int kReadOutOfRange = -3;     // a number outside the signed 32-bit range
inline constexpr int kReadFailed = -4;         // the system could not read the file (TextFile::Failed)

// Reads the next line of FILE (TextFile::ReadLine) and scans numbers
// from it into VALUES, at most MAXCOUNT of them. A number is an optional "+"
// or "-" directly followed by decimal digits; numbers are separated by runs
// of spaces and tabs, and a sign may directly follow the digits of the
// previous number ("3-4" is 3 and -4). The scan stops at the end of the line,
// after MAXCOUNT numbers, or at the first character (blanks skipped) that
// cannot start a number; the rest of the line is ignored ("1.5" gives 1, a
// line that starts with text gives nothing). Returns the count stored, 0 at
// the end of the file and on a read error (FILE.Failed() tells them apart).
// OUTOFRANGE is cleared on entry and set when a number does not fit a signed
// 32-bit integer; the scan stops there, without storing that number. It is
// also set for a line cut at TextFile::kMaxLineLength whose numbers run on
// to the cut (a number there may have been cut short).
int ScanNumberLine(TextFile& file, std::int32_t* values, int maxCount, bool& outOfRange);

// What a block read by ReadTableData is: the counts of a table (lines of more
// than 60 values refused) or the weights that follow a one-way table.
enum class BlockTarget { Table, Proportions };

// The lines of a block seen so far and whether each held exactly one number.
// A line cut short by a number beyond 32 bits counts the numbers before it
// and that one.
struct BlockShape {
    int Lines = 0;
    bool SingleValues = true;
    void Add(int numbers, bool outOfRange) {
        ++Lines;
        if (numbers + (outOfRange ? 1 : 0) != 1) SingleValues = false;
    }
    // A table of one row or one column, which the weights block after it
    // belongs to.
    bool OneWay() const { return Lines == 1 || (Lines > 0 && SingleValues); }
};

// Reads the next block of the data file into TARGET, one grid row per line
// and one grid column per value, each value as decimal text. When
// state.DataFileName is empty, OPENDIALOG1 is first emptied and shown; a
// confirmed name becomes DataFileName and is opened for reading as
// state.DataFile. The grid is not emptied first: its row count follows the
// lines stored and its column count the latest stored line's count, so a
// block of no lines leaves it as it was. Only the first kMaxStoredLines lines are stored:
// the lines after them are scanned and counted as any other (the result and
// the place where the reading stops are the same), but a file of a great
// many lines does not make a grid of as many rows (the grid of a window
// takes far more memory per cell than the file per number).
// Returns the number of lines read (0 when there is no open data file, at the
// end of the file, or when the first line holds no number), or
// kReadTooManyValues (the line is not stored), kReadRagged (the offending line
// is stored when it is one of the first kMaxStoredLines), kReadOutOfRange
// (the line is not stored) or kReadFailed (a read error: the lines before it
// stay stored, and the file reads as failed from then on, so a caller that
// reads on gets kReadFailed again). In every other case the file is left
// positioned after the last line scanned. SHAPE, when given, receives the
// shape of the lines scanned (the offending one too).
int ReadTableData(AnalysisState& state, FileDialog& openDialog1, TextGrid& target, BlockTarget kind,
                  BlockShape* shape = nullptr);

// Reads on up to and including the end line of the block that a data error
// interrupted, so that the rest of a broken block is not taken for the next
// block. A line whose number is out of range still belongs to the block.
// SHAPE, when given, goes on with the lines skipped.
void SkipRestOfBlock(TextFile& file, BlockShape* shape = nullptr);

// After a table block that cannot be analysed (ReadTableData gave RESULT, a
// data error or more than 50 lines, and SHAPE): reads on past its rest and,
// when the table had one row or one column, past the weights block that
// belongs to it, so that neither is read as the next table. After a read
// error of the system nothing is read.
void SkipBrokenTable(TextFile& file, int result, BlockShape shape);

// Writes the current table, state.Table.Rows x state.Table.Cols cells of
// ENTRYGRID, one line per row with " %4d" per count, then an empty line; a
// table of one row or one column is followed by its weights from
// PROPORTIONSGRID as whole numbers (one line " w1 w2 ..." for a single row,
// one weight per line for a single column; an empty weight is written as 1,
// decimal weights are all multiplied by the same power of ten, which keeps
// their proportions) and another empty line. Lines end in CR LF.
// When state.SaveFileName is empty, SAVEDIALOG2 is shown and a confirmed name
// becomes SaveFileName; that file is then created or replaced, through a
// temporary file in the same folder that replaces it only once completely
// written. Otherwise the table is appended to SaveFileName.
// A count cell that is not a whole number gives the message "Data error at
// (row,col).", a weight that is no number or cannot be made a whole number
// within 32 bits its own message, and a file that cannot be written "Cannot
// write file <name>", all with the caption "Error"; nothing of the table is
// written then. So
// does the data file open for reading (state.DataFile) as the file written,
// with kDataFileBeingRead; a name just chosen for it is not kept.
// Returns true when the table was written. Without a table (no rows or no
// columns) nothing is asked and nothing is written.
bool WriteTableData(AnalysisState& state, FileDialog& saveDialog2, const TextGrid& entryGrid,
                    const TextGrid& proportionsGrid, MessageBoxes& messages);

}  // namespace kelvorin
