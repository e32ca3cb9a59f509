#include "FuzzChecks.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <vector>

#include "BatchMode.h"
#include "MemoryTextGrid.h"
#include "NumericError.h"
#include "SamplePointCounter.h"
#include "TableDataFile.h"
#include "TextFile.h"

namespace kelvorin::fuzzing {

namespace {

// --- Scratch files ---------------------------------------------------------

// A folder of this process for the files of the checks, removed at exit.
class ScratchFolder {
public:
    ScratchFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kelvorin_fuzz_XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr) {
            std::perror("kelvorin fuzz checks: mkdtemp");
            std::abort();
        }
        path_ = buffer.data();
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

const ScratchFolder& Scratch() {
    static const ScratchFolder folder;
    return folder;
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror("kelvorin fuzz checks: cannot write the input");
        std::abort();
    }
}

// --- An independent reading of the data file grammar -----------------------

// The lines of the file: a line ends at LF, CR LF or a lone CR; a last line
// without terminator counts when it holds any character; of a line only the
// first TextFile::kMaxLineLength characters count, and of those a UTF-8 byte
// order mark that begins the file is dropped.
std::vector<std::string> SplitLines(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> lines;
    std::string current;
    std::size_t i = 0;
    while (i < size) {
        const char c = static_cast<char>(data[i++]);
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i < size && data[i] == '\n') ++i;
            lines.push_back(current);
            current.clear();
        } else if (current.size() < TextFile::kMaxLineLength) {
            current.push_back(c);
        }
    }
    const bool unterminated = size > 0 && data[size - 1] != '\n' && data[size - 1] != '\r';
    if (unterminated) lines.push_back(current);
    if (!lines.empty() && lines.front().starts_with("\xEF\xBB\xBF")) lines.front().erase(0, 3);
    return lines;
}

struct ScannedLine {
    std::vector<std::int32_t> Values;
    bool OutOfRange = false;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Numbers as the grammar defines them: an optional sign directly followed by
// digits, separated by runs of blanks and tabs or directly by the next sign.
// Whether a number fits is decided from its significant digits as text.
ScannedLine ScanReference(const std::string& line, int maxCount) {
    ScannedLine scanned;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (static_cast<int>(scanned.Values.size()) < maxCount) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == n) break;
        bool negative = false;
        if ((line[i] == '-' || line[i] == '+') && i + 1 < n && IsDigit(line[i + 1])) {
            negative = line[i] == '-';
            ++i;
        } else if (!IsDigit(line[i])) {
            break;
        }
        std::string digits;
        while (i < n && IsDigit(line[i])) digits.push_back(line[i++]);
        const std::size_t first = digits.find_first_not_of('0');
        digits = first == std::string::npos ? "0" : digits.substr(first);
        const std::string limit = negative ? "2147483648" : "2147483647";
        if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) {
            scanned.OutOfRange = true;
            break;
        }
        const long long magnitude = std::stoll(digits);
        scanned.Values.push_back(static_cast<std::int32_t>(negative ? -magnitude : magnitude));
    }
    return scanned;
}

// The reading of one block, as the grammar demands it.
struct ExpectedBlock {
    int Result = 0;
    std::vector<std::vector<std::int32_t>> Stored;  // the lines put into the grid: the first kMaxStoredLines
};

ExpectedBlock ReadBlockReference(const std::vector<std::string>& lines, std::size_t& cursor, BlockTarget kind) {
    ExpectedBlock block;
    int firstWidth = -1;
    int read = 0;
    for (;;) {
        ScannedLine scanned;
        if (cursor < lines.size()) scanned = ScanReference(lines[cursor++], kScanLimit);
        const int n = static_cast<int>(scanned.Values.size());
        if (firstWidth < 0) firstWidth = n;
        if (scanned.OutOfRange) {
            block.Result = kReadOutOfRange;
            return block;
        }
        if (kind == BlockTarget::Table && n > kMaxTableValues) {
            block.Result = kReadTooManyValues;
            return block;
        }
        if (n == 0) {
            block.Result = read;
            return block;
        }
        if (++read <= kMaxStoredLines) block.Stored.push_back(scanned.Values);
        if (n != firstWidth) {
            block.Result = kReadRagged;
            return block;
        }
    }
}

// --- Helpers for the program's side ------------------------------------------

class AnsweringDialog : public FileDialog {
public:
    explicit AnsweringDialog(std::string answer) : answer_(std::move(answer)) {}
    void SetFileName(const std::string& name) override { name_ = name; }
    std::string FileName() const override { return name_; }
    void SetConfirmReplace(bool) override {}
    bool Execute() override {
        name_ = answer_;
        return true;
    }

private:
    std::string answer_;
    std::string name_;
};

class CollectedMessages : public MessageBoxes {
public:
    void Show(const std::string& text, const std::string& caption) override { shown += caption + ": " + text + "\n"; }
    bool AskYesNo(const std::string&) override { return false; }
    std::string shown;
};

using Cells = std::vector<std::vector<std::string>>;

Cells Snapshot(const TextGrid& grid) {
    Cells cells(static_cast<std::size_t>(grid.RowCount()));
    for (int row = 0; row < grid.RowCount(); ++row)
        for (int col = 0; col < grid.ColCount(); ++col)
            cells[static_cast<std::size_t>(row)].push_back(grid.Cell(col, row));
    return cells;
}

std::string Describe(const std::vector<std::int32_t>& values) {
    std::string text;
    for (std::int32_t v : values) text += " " + std::to_string(v);
    return "[" + text + " ]";
}

// Compares the grid after a block with what the block stored; "" when it fits.
std::string CompareGrid(const TextGrid& grid, const Cells& before, const ExpectedBlock& expected) {
    if (expected.Stored.empty()) return Snapshot(grid) == before ? "" : "a block of no lines changed the grid";
    const int rows = static_cast<int>(expected.Stored.size());
    const int cols = static_cast<int>(expected.Stored.back().size());
    if (grid.RowCount() != rows || grid.ColCount() != cols)
        return "grid is " + std::to_string(grid.RowCount()) + " x " + std::to_string(grid.ColCount()) + ", expected " +
               std::to_string(rows) + " x " + std::to_string(cols);
    for (int row = 0; row < rows; ++row) {
        const std::vector<std::int32_t>& line = expected.Stored[static_cast<std::size_t>(row)];
        for (int col = 0; col < static_cast<int>(line.size()) && col < cols; ++col)
            if (grid.Cell(col, row) != std::to_string(line[static_cast<std::size_t>(col)]))
                return "cell (" + std::to_string(col) + "," + std::to_string(row) + ") holds '" + grid.Cell(col, row) +
                       "' instead of " + std::to_string(line[static_cast<std::size_t>(col)]);
    }
    return "";
}

// The scan of every line, with a different maximum count per line.
std::string CheckScanner(const std::string& path, const std::vector<std::string>& lines, std::size_t size) {
    TextFile file;
    if (!file.Open(path, TextFile::Mode::Read)) return "cannot open the input";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int maxCount = 1 + static_cast<int>((i * 7 + size) % kScanLimit);
        std::vector<std::int32_t> values(static_cast<std::size_t>(maxCount));
        bool outOfRange = true;  // the scan must clear it
        const int n = ScanNumberLine(file, values.data(), maxCount, outOfRange);
        const ScannedLine expected = ScanReference(lines[i], maxCount);
        if (n < 0 || n > maxCount) return "ScanNumberLine returned " + std::to_string(n);
        values.resize(static_cast<std::size_t>(n));
        if (values != expected.Values || outOfRange != expected.OutOfRange)
            return "line " + std::to_string(i + 1) + " scanned as " + Describe(values) +
                   (outOfRange ? " out of range" : "") + ", expected " + Describe(expected.Values) +
                   (expected.OutOfRange ? " out of range" : "");
    }
    std::int32_t value = 0;
    bool outOfRange = true;
    if (ScanNumberLine(file, &value, 1, outOfRange) != 0 || outOfRange) return "no 0 at the end of the file";
    return "";
}

// Writes a table just read with WriteTableData and reads it back.
std::string CheckRoundTrip(const TextGrid& table) {
    AnalysisState state;
    state.Table.Rows = table.RowCount();
    state.Table.Cols = table.ColCount();
    const std::string saved = Scratch().File("saved.dat");
    AnsweringDialog dialog(saved);
    MemoryTextGrid noWeights;
    CollectedMessages messages;
    if (!WriteTableData(state, dialog, table, noWeights, messages) || !messages.shown.empty())
        return "the table read could not be saved: " + messages.shown;

    AnalysisState reading;
    reading.DataFileName = saved;
    if (!reading.DataFile.Open(saved, TextFile::Mode::Read)) return "the saved table cannot be opened";
    MemoryTextGrid back;
    MemoryTextGrid weights;
    AnsweringDialog unused("");
    const int lines = ReadTableData(reading, unused, back, BlockTarget::Table);
    if (lines != table.RowCount() || Snapshot(back) != Snapshot(table)) return "the saved table reads back differently";
    if (table.RowCount() == 1 || table.ColCount() == 1) {
        const int weightLines = ReadTableData(reading, unused, weights, BlockTarget::Proportions);
        const bool oneRow = table.RowCount() == 1;
        const int expectedLines = oneRow ? 1 : table.RowCount();
        const int expectedCols = oneRow ? table.ColCount() : 1;
        if (weightLines != expectedLines || weights.ColCount() != expectedCols)
            return "the saved weights read back wrongly";
        for (const auto& row : Snapshot(weights))
            for (const std::string& cell : row)
                if (cell != "1") return "an empty weight was saved as '" + cell + "'";
    }
    std::int32_t value = 0;
    bool outOfRange = false;
    if (ScanNumberLine(reading.DataFile, &value, 1, outOfRange) != 0) return "the saved table has lines after it";
    return "";
}

// Reads the whole file block by block, target by target as KINDOF says, and
// compares every block with the independent reading.
template <typename KindOf>
std::string CheckBlocks(const std::string& path, const std::vector<std::string>& lines, KindOf kindOf,
                        bool roundTrips) {
    AnalysisState state;
    state.DataFileName = path;
    if (!state.DataFile.Open(path, TextFile::Mode::Read)) return "cannot open the input";
    AnsweringDialog unused("");
    MemoryTextGrid entryGrid(2, 2);
    MemoryTextGrid proportionsGrid;
    std::size_t cursor = 0;
    int roundTripsLeft = roundTrips ? 3 : 0;
    // Every block but one at the end of the file reads at least one line.
    for (std::size_t block = 0; block <= lines.size() + 1; ++block) {
        const BlockTarget kind = kindOf(block);
        TextGrid& grid = kind == BlockTarget::Table ? static_cast<TextGrid&>(entryGrid) : proportionsGrid;
        const Cells before = Snapshot(grid);
        const bool atEnd = cursor >= lines.size();
        const ExpectedBlock expected = ReadBlockReference(lines, cursor, kind);
        const int result = ReadTableData(state, unused, grid, kind);
        const std::string where = "block " + std::to_string(block + 1) + " (" +
                                  (kind == BlockTarget::Table ? "table" : "weights") + "): ";
        if (result != expected.Result)
            return where + "ReadTableData gave " + std::to_string(result) + ", expected " +
                   std::to_string(expected.Result);
        if (std::string fault = CompareGrid(grid, before, expected); !fault.empty()) return where + fault;
        if (kind == BlockTarget::Table && result > 0 && result <= 50 && roundTripsLeft > 0) {
            --roundTripsLeft;
            if (std::string fault = CheckRoundTrip(grid); !fault.empty()) return where + fault;
        }
        if (atEnd) return result == 0 ? "" : where + "a block after the end of the file";
    }
    return "the blocks did not come to the end of the file";
}

}  // namespace

std::string CheckDataFileReader(const std::uint8_t* data, std::size_t size) {
    const std::string path = Scratch().File("input.dat");
    WriteBytes(path, data, size);
    const std::vector<std::string> lines = SplitLines(data, size);
    if (std::string fault = CheckScanner(path, lines, size); !fault.empty()) return "scanner: " + fault;
    // Every block taken as a table, with the tables written back.
    if (std::string fault = CheckBlocks(path, lines, [](std::size_t) { return BlockTarget::Table; }, true);
        !fault.empty())
        return fault;
    // Tables and weights blocks mixed in a pattern that depends on the input.
    const std::size_t pattern = size % 7 + 2;
    return CheckBlocks(
        path, lines,
        [pattern](std::size_t block) { return block % pattern == 1 ? BlockTarget::Proportions : BlockTarget::Table; },
        false);
}

namespace {

// The sample points of the table in GRID as the run would enumerate them, 0
// when the run refuses the table or takes the approximate tests instead; a
// negative value when the count is unknown.
double SamplePointsOf(const TextGrid& grid) {
    const int rows = grid.RowCount();
    const int cols = grid.ColCount();
    std::vector<int> rowTotals(static_cast<std::size_t>(rows), 0);
    std::vector<int> colTotals(static_cast<std::size_t>(cols), 0);
    long long total = 0;
    int largeCounts = 0;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const long long v = std::stoll(grid.Cell(j, i));
            if (v < 0 || v > 32767) return 0.0;  // refused
            rowTotals[static_cast<std::size_t>(i)] += static_cast<int>(v);
            colTotals[static_cast<std::size_t>(j)] += static_cast<int>(v);
            total += v;
            if (v > 1000) ++largeCounts;
        }
    if (total > 32767) return 0.0;  // refused
    SamplePointEstimate estimate;
    if (rows > 1 && cols > 1) {
        for (int c : colTotals)
            if (c > 1000) return 0.0;  // approximate tests only
        estimate = CountTwoWaySamplePoints(rowTotals, colTotals);
    } else {
        if (rows == 1 && cols == 1) return 0.0;
        if (largeCounts > 1) return 0.0;  // approximate tests only
        estimate = CountOneWaySamplePoints(static_cast<int>(total), rows * cols);
    }
    if (estimate.Count == 0.0 && !estimate.Exact) return -1.0;
    return estimate.Count;
}

}  // namespace

bool BatchInputIsSmallEnough(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxBatchInput) return false;
    const std::string path = Scratch().File("budget.dat");
    WriteBytes(path, data, size);
    // Every block the batch run could take for a table (it always starts a
    // table where a block starts) is counted as one, so the sum bounds the
    // sample points of the run whatever it takes for weights.
    AnalysisState state;
    state.DataFileName = path;
    if (!state.DataFile.Open(path, TextFile::Mode::Read)) return false;
    AnsweringDialog unused("");
    MemoryTextGrid grid;
    double points = 0.0;
    const std::size_t most = SplitLines(data, size).size() + 1;
    for (std::size_t block = 0; block < most; ++block) {
        const int lines = ReadTableData(state, unused, grid, BlockTarget::Table);
        if (lines < 1 || lines > 50) continue;
        const double count = SamplePointsOf(grid);
        if (count < 0.0) return false;
        points += count;
        if (points > kMaxBatchSamplePoints) return false;
    }
    return true;
}

namespace {

// The first number of TEXT printed as an infinity or NaN ("inf", "-nan",
// "INF", ...), or "" when it has none: no report or trace may print one.
std::string NonFiniteNumber(const std::string& text) {
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    for (std::size_t i = 0; i + 3 <= text.size(); ++i) {
        if (i > 0 && letter(text[i - 1])) continue;
        std::string word = text.substr(i, 3);
        for (char& c : word) c = static_cast<char>(c | 0x20);
        if ((word == "inf" || word == "nan") && (i + 3 == text.size() || !letter(text[i + 3]))) {
            const std::size_t from = i > 0 && text[i - 1] == '-' ? i - 1 : i;
            return text.substr(from, i + 3 - from);
        }
    }
    return "";
}

std::string FileText(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string CheckBatchRun(const std::uint8_t* data, std::size_t size) {
    if (!BatchInputIsSmallEnough(data, size)) return "";
    const std::string dataFile = Scratch().File("batch.dat");
    const std::string details = Scratch().File("details.txt");
    const std::string result = Scratch().File("result.txt");
    WriteBytes(dataFile, data, size);
    std::remove(details.c_str());
    std::vector<std::string> args = {"--batch", dataFile, "--details", details};
    if (size % 2 == 1) {
        args.push_back("--output");
        args.push_back(result);
    }
    for (const char* name : kBooleanOptionNames) {
        args.push_back("--option");
        args.push_back(std::string(name) + "=1");
    }
    args.push_back("--option");
    args.push_back("Track=" + std::to_string(size % 5));

    // The batch run installs its own Ctrl-C handler; the fuzzer's is put back.
    struct sigaction previous {};
    sigaction(SIGINT, nullptr, &previous);
    std::ostringstream out;
    std::ostringstream err;
    int status = kBatchTableFailed;
    try {
        status = RunBatch(args, out, err, false);
    } catch (const NumericErrorException&) {
        // A failure of the special functions ends the program with status 1
        // at its top level, by design.
    }
    sigaction(SIGINT, &previous, nullptr);

    if (status != kBatchOk && status != kBatchTableFailed)
        return "exit status " + std::to_string(status) + ": " + err.str();
    const std::pair<const char*, std::string> written[] = {
        {"report", size % 2 == 1 ? FileText(result) : out.str()}, {"details", FileText(details)}};
    for (const auto& [what, text] : written)
        if (const std::string number = NonFiniteNumber(text); !number.empty())
            return std::string("the ") + what + " prints \"" + number + "\"";
    return "";
}

}  // namespace kelvorin::fuzzing
