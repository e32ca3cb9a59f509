#include "TableDataFile.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "Format.h"
#include "SameFile.h"
#include "TextConversions.h"

namespace kelvorin {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSign(char c) { return c == '-' || c == '+'; }

// Magnitudes beyond this are out of range for either sign.
constexpr std::int64_t kMagnitudeLimit = std::int64_t{1} << 31;

// Scans LINE by the data file's number grammar; see ScanNumberLine. AT_END
// (when given) tells whether the scan went on to the end of the line.
int ScanNumbers(const std::string& line, std::int32_t* values, int maxCount, bool& outOfRange,
                bool* atEnd = nullptr) {
    const std::size_t size = line.size();
    std::size_t pos = 0;
    int count = 0;
    while (count < maxCount) {
        while (pos < size && IsBlank(line[pos])) ++pos;
        if (pos == size) break;
        bool negative = false;
        if (IsSign(line[pos]) && pos + 1 < size && IsDigit(line[pos + 1])) {
            negative = line[pos] == '-';
            ++pos;
        } else if (!IsDigit(line[pos])) {
            break;
        }
        // Accumulate only while the magnitude can still fit, but consume
        // every digit of the number.
        std::int64_t magnitude = 0;
        for (; pos < size && IsDigit(line[pos]); ++pos) {
            if (magnitude <= kMagnitudeLimit) magnitude = magnitude * 10 + (line[pos] - '0');
        }
        if (magnitude > (negative ? kMagnitudeLimit : kMagnitudeLimit - 1)) {
            outOfRange = true;
            break;
        }
        values[count++] = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    }
    if (atEnd != nullptr) *atEnd = pos == size && !outOfRange;
    return count;
}

// A count cell as the entry grid accepts it, but with negatives allowed (a
// table read from a file may hold them): leading blanks, an optional sign,
// decimal digits and nothing after them, within the signed 32-bit range.
bool ParseCount(const std::string& text, std::int32_t& value) {
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && IsSign(text[pos])) negative = text[pos++] == '-';
    if (pos == text.size()) return false;
    std::int64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        if (!IsDigit(text[pos])) return false;
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > kMagnitudeLimit) return false;
    }
    if (magnitude > (negative ? kMagnitudeLimit : kMagnitudeLimit - 1)) return false;
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

// A weight cell as written: its text trimmed of blanks and control
// characters, as the run reads it, or "1" (the weight an empty cell stands
// for) when nothing is left, so that no line of blanks is written. A line
// break pasted with a weight would split the weights block and turn its rest
// into another table: control characters left inside become blanks.
std::string WeightText(const std::string& text) {
    std::string weight = TrimControl(text);
    if (weight.empty()) return "1";
    for (char& c : weight)
        if (static_cast<unsigned char>(c) < ' ') c = ' ';
    return weight;
}

// A weight typed as a decimal number, exactly: Digits x 10^Exponent, the
// digits without leading or trailing zeros ("" for 0), with its sign.
struct DecimalWeight {
    std::string Digits;
    long long Exponent = 0;
    bool Negative = false;
};

// TEXT (trimmed) as a decimal number with an optional sign, an optional
// fraction and an optional exponent ("0.25", "+.5", "2.", "1e3", "2.5E-2",
// "-3"): every number the run reads as a weight; nothing for any other text.
std::optional<DecimalWeight> ParseDecimalWeight(const std::string& text) {
    std::size_t pos = 0;
    DecimalWeight weight;
    if (pos < text.size() && IsSign(text[pos])) weight.Negative = text[pos++] == '-';
    bool anyDigit = false;
    bool fraction = false;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '.' && !fraction) {
            fraction = true;
        } else if (IsDigit(c)) {
            anyDigit = true;
            if (!(weight.Digits.empty() && c == '0')) weight.Digits += c;
            if (fraction) --weight.Exponent;
        } else {
            break;
        }
    }
    if (!anyDigit) return std::nullopt;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        bool negative = false;
        if (pos < text.size() && IsSign(text[pos])) negative = text[pos++] == '-';
        if (pos == text.size()) return std::nullopt;
        long long exponent = 0;
        for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
            exponent = exponent * 10 + (text[pos] - '0');
            if (exponent > 100000) return std::nullopt;
        }
        weight.Exponent += negative ? -exponent : exponent;
    }
    if (pos != text.size()) return std::nullopt;
    while (!weight.Digits.empty() && weight.Digits.back() == '0') {
        weight.Digits.pop_back();
        ++weight.Exponent;
    }
    return weight;
}

// The weights of a one-way table as the data file holds them: whole
// numbers, which the reader reads back. Weights typed as whole numbers are
// written as they stand; decimal ones ("0.5", "0.25", "0.25") are all
// multiplied by the same power of ten, which keeps their proportions
// exactly ("50", "25", "25"). The message that refuses the save otherwise:
// for a number that, made whole or typed whole, would lie past the file's
// 32-bit range (it would read back as a broken weights block), and for a
// text that is no number at all (a weight the run refused): written as it
// stands, it would end the weights block early or make its rest a table of
// its own, and every later table of the file would be read out of step.
std::optional<std::string> WholeWeights(std::vector<std::string>& texts) {
    static const std::string kNotWhole = "The weights cannot be written as whole numbers";
    std::vector<DecimalWeight> weights;
    bool whole = true;
    for (const std::string& text : texts) {
        const std::string trimmed = TrimControl(text);
        const std::optional<DecimalWeight> weight = ParseDecimalWeight(trimmed);
        if (!weight) return "'" + trimmed + "' is not a valid floating point value";
        whole = whole && trimmed.find_first_not_of("0123456789", IsSign(trimmed.front()) ? 1 : 0) == std::string::npos;
        weights.push_back(*weight);
    }
    // The power of ten that makes every weight whole (and none larger); 0
    // when they all are whole already, which are then checked for range only.
    long long least = 0;
    for (const DecimalWeight& w : weights)
        if (!w.Digits.empty()) least = std::min(least, w.Exponent);
    std::vector<std::string> scaled;
    for (const DecimalWeight& w : weights) {
        const long long zeros = w.Digits.empty() ? 0 : w.Exponent - least;
        if (static_cast<long long>(w.Digits.size()) + zeros > 10) return kNotWhole;
        const std::string digits = w.Digits.empty() ? "0" : w.Digits + std::string(static_cast<std::size_t>(zeros), '0');
        if (std::stoll(digits) > std::numeric_limits<std::int32_t>::max()) return kNotWhole;
        scaled.push_back(w.Negative && !w.Digits.empty() ? "-" + digits : digits);
    }
    if (!whole) texts = std::move(scaled);
    return std::nullopt;
}

// Builds the text of the current table and its weights; false (and the
// message) at the first count cell that is not a whole number, or when the
// weights cannot be written as whole numbers.
bool BuildTableText(const AnalysisState& state, const TextGrid& entryGrid, const TextGrid& proportionsGrid,
                    MessageBoxes& messages, std::string& text) {
    const int rows = state.Table.Rows;
    const int cols = state.Table.Cols;
    text.clear();
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            std::int32_t count = 0;
            if (!ParseCount(entryGrid.Cell(j, i), count)) {
                messages.Show(Format("Data error at (%d,%d).", i + 1, j + 1), "Error");
                return false;
            }
            text += Format(" %4d", count);
        }
        text += '\n';
    }
    text += '\n';
    if (rows != 1 && cols != 1) return true;

    std::vector<std::string> texts;
    for (int k = 0; k < (rows == 1 ? cols : rows); ++k)
        texts.push_back(WeightText(rows == 1 ? proportionsGrid.Cell(k, 0) : proportionsGrid.Cell(0, k)));
    if (const std::optional<std::string> refusal = WholeWeights(texts)) {
        messages.Show(*refusal, "Error");
        return false;
    }
    std::string weights;
    if (rows == 1) {
        for (const std::string& weight : texts) weights += ' ' + weight;
    } else {
        weights = texts.front();
        for (std::size_t i = 1; i < texts.size(); ++i) weights += '\n' + texts[i];
    }
    text += weights;
    text += "\n\n";
    return true;
}

// The text as the file stores it: every line feed written as a carriage
// return and a line feed, the line end of text files where the data files
// were first kept (the reader takes either).
std::string WithCarriageReturns(const std::string& text) {
    std::string stored;
    stored.reserve(text.size() + text.size() / 4);
    for (const char c : text) {
        if (c == '\n') stored += '\r';
        stored += c;
    }
    return stored;
}

// The line ends to write before a table appended to a file whose text ends
// in TAIL (its last line whole), so that the table starts a block of its
// own: a line left open is ended, and a last line that holds numbers (a
// table whose end line an editor took away) gets the empty line that ends
// its block; otherwise the appended rows would join that block. Written as
// CR LF, like the table, so one after a lone carriage return is a line of
// its own.
std::string SeparatorBefore(std::string tail) {
    std::string separator;
    if (tail.empty()) return separator;
    // Its final line end (LF, CR LF or CR) taken off, or one written.
    if (tail.ends_with("\r\n"))
        tail.resize(tail.size() - 2);
    else if (tail.back() == '\n' || tail.back() == '\r')
        tail.pop_back();
    else
        separator = "\r\n";
    const std::size_t lineEnd = tail.find_last_of("\r\n");
    const std::string lastLine = lineEnd == std::string::npos ? tail : tail.substr(lineEnd + 1);
    std::array<std::int32_t, kScanLimit> values{};
    bool outOfRange = false;
    if (ScanNumbers(lastLine, values.data(), kScanLimit, outOfRange) > 0 || outOfRange) separator += "\r\n";
    return separator;
}

// Whether the blocks of file NAME, as Bulk processing and batch mode read
// them, end with a table of one row or one column whose weights block has not
// begun (none was written): a table appended then would be read as its
// weights. A block ends at its first line without numbers; the block after a
// one-way table is its weights, whatever it holds; an empty line where a
// table would start ends the reading.
bool AwaitsWeightsBlock(const std::string& name) {
    TextFile file;
    if (!file.Open(name, TextFile::Mode::Read)) return false;
    std::array<std::int32_t, kScanLimit> values{};
    for (;;) {
        BlockShape table;
        SkipRestOfBlock(file, &table);
        if (file.Failed() || table.Lines == 0) return false;
        if (!table.OneWay()) continue;
        std::string line;
        if (!file.ReadLine(line)) return !file.Failed();
        bool outOfRange = false;
        if (ScanNumbers(line, values.data(), kScanLimit, outOfRange) > 0 || outOfRange) SkipRestOfBlock(file);
    }
}

// Appends TEXT to NAME. A regular file that the append cannot complete (a
// full disk, a size limit) is cut back to its former length, so that no half
// table is left in it for the next append to run into.
bool AppendToFile(const std::string& name, const std::string& text) {
    namespace fs = std::filesystem;
    std::error_code error;
    const bool regular = fs::is_regular_file(name, error);
    const std::uintmax_t formerSize = regular ? fs::file_size(name, error) : 0;
    const bool sized = regular && !error;
    std::string separator;
    if (sized && formerSize > 0) {
        // The file's end: enough for the longest line a table can have.
        constexpr std::uintmax_t kTail = 64 * 1024;
        std::ifstream existing(name, std::ios::binary);
        existing.seekg(static_cast<std::streamoff>(formerSize > kTail ? formerSize - kTail : 0));
        std::string tail((std::istreambuf_iterator<char>(existing)), std::istreambuf_iterator<char>());
        separator = SeparatorBefore(std::move(tail));
        // An empty weights block, so that the table does not become the
        // weights of a one-way table saved without them by another hand.
        if (AwaitsWeightsBlock(name)) separator += "\r\n";
    }
    TextFile file;
    if (!file.Open(name, TextFile::Mode::Append)) return false;
    const bool written = file.Write(separator + text);
    if (file.Close() && written) return true;
    if (sized) fs::resize_file(name, formerSize, error);
    return false;
}

// Creates or replaces NAME with TEXT. The text goes to a temporary file in the
// same folder, which is renamed over NAME only when completely written, so a
// failed write leaves an existing file as it was.
bool ReplaceFile(const std::string& name, const std::string& text) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path target(name);
    // Replace the file a link points to, not the link.
    if (fs::is_symlink(target, error)) {
        fs::path resolved = fs::canonical(target, error);
        if (!error) target = resolved;
    }
    const fs::file_status existing = fs::status(target, error);
    const bool exists = !error && fs::exists(existing);
    // Anything existing that is not a regular file is written to as it
    // stands: a device or a pipe (renaming a file over it would put a plain
    // file in its place); a folder fails to open here and is refused.
    if (exists && !fs::is_regular_file(existing)) {
        TextFile device;
        if (!device.Open(target.string(), TextFile::Mode::Write)) return false;
        const bool written = device.Write(text);
        return device.Close() && written;
    }
    // An existing regular file must be writable as such (opening it for
    // appending changes nothing).
    if (exists) {
        TextFile probe;
        if (!probe.Open(target.string(), TextFile::Mode::Append)) return false;
        probe.Close();
    }

    fs::path temporary;
    for (int attempt = 0;; ++attempt) {
        if (attempt == 100) return false;
        temporary = target.parent_path() / ("." + target.filename().string() + Format(".%d.tmp", attempt));
        if (!fs::exists(fs::symlink_status(temporary, error))) break;
    }
    TextFile file;
    if (!file.Open(temporary.string(), TextFile::Mode::Write)) return false;
    const bool written = file.Write(text);
    if (!file.Close() || !written) {
        fs::remove(temporary, error);
        return false;
    }
    if (exists) fs::permissions(temporary, existing.permissions(), error);
    fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

}  // namespace

int ScanNumberLine(TextFile& file, std::int32_t* values, int maxCount, bool& outOfRange) {
    outOfRange = false;
    std::string line;
    if (!file.ReadLine(line)) return 0;
    bool atEnd = false;
    const int count = ScanNumbers(line, values, maxCount, outOfRange, &atEnd);
    // A line too long to be kept whole, whose numbers go on where it was
    // cut: its last number may be cut short and others are not seen, so it
    // is taken as a line with a number the reader cannot take.
    if (file.LastLineCut() && atEnd && count < maxCount) outOfRange = true;
    return count;
}

int ReadTableData(AnalysisState& state, FileDialog& openDialog1, TextGrid& target, BlockTarget kind,
                  BlockShape* shape) {
    if (state.DataFileName.empty()) {
        openDialog1.SetFileName("");
        if (openDialog1.Execute()) {
            state.DataFileName = openDialog1.FileName();
            // A name that cannot be opened leaves no data file.
            state.DataFile.Open(state.DataFileName, TextFile::Mode::Read);
        }
    }
    if (!state.DataFile.IsOpen()) return 0;

    std::array<std::int32_t, kScanLimit> values{};
    int lines = 0;
    int firstWidth = -1;
    int result = 0;
    for (;;) {
        bool outOfRange = false;
        const int n = ScanNumberLine(state.DataFile, values.data(), kScanLimit, outOfRange);
        // A read error is no end of the block: what follows is unknown.
        if (state.DataFile.Failed()) {
            result = kReadFailed;
            break;
        }
        if (firstWidth < 0) firstWidth = n;
        if (shape != nullptr && (n > 0 || outOfRange)) shape->Add(n, outOfRange);
        if (outOfRange) {
            result = kReadOutOfRange;
            break;
        }
        if (kind == BlockTarget::Table && n > kMaxTableValues) {
            result = kReadTooManyValues;
            break;
        }
        if (n == 0) {
            result = lines;
            break;
        }
        ++lines;
        if (lines <= kMaxStoredLines) {
            target.SetRowCount(lines);
            target.SetColCount(n);
            for (int j = 0; j < n; ++j)
                target.SetCell(j, lines - 1, std::to_string(values[static_cast<std::size_t>(j)]));
        }
        if (n != firstWidth) {
            result = kReadRagged;
            break;
        }
    }
    if (lines > 0) target.Redraw();
    return result;
}

void SkipRestOfBlock(TextFile& file, BlockShape* shape) {
    std::array<std::int32_t, kScanLimit> values{};
    for (;;) {
        bool outOfRange = false;
        const int n = ScanNumberLine(file, values.data(), kScanLimit, outOfRange);
        if (n == 0 && !outOfRange) return;
        if (shape != nullptr) shape->Add(n, outOfRange);
    }
}

void SkipBrokenTable(TextFile& file, int result, BlockShape shape) {
    if (result == kReadFailed) return;
    if (result < 0) SkipRestOfBlock(file, &shape);
    // The block after a one-way table is its weights block (an empty one
    // when it has none), whatever it holds.
    if (shape.OneWay()) SkipRestOfBlock(file);
}

bool WriteTableData(AnalysisState& state, FileDialog& saveDialog2, const TextGrid& entryGrid,
                    const TextGrid& proportionsGrid, MessageBoxes& messages) {
    if (state.Table.Rows < 1 || state.Table.Cols < 1) return false;
    const bool newFile = state.SaveFileName.empty();
    if (newFile && saveDialog2.Execute()) state.SaveFileName = saveDialog2.FileName();
    if (state.SaveFileName.empty()) return false;
    // The data file being read is neither replaced (the reader would go on
    // in the old contents) nor appended to (it would read the table again).
    if (state.DataFile.IsOpen() && IsSameFile(state.SaveFileName, state.DataFileName)) {
        messages.Show(kDataFileBeingRead, "Error");
        if (newFile) state.SaveFileName.clear();
        return false;
    }

    std::string text;
    if (!BuildTableText(state, entryGrid, proportionsGrid, messages, text)) return false;
    text = WithCarriageReturns(text);
    const bool written = newFile ? ReplaceFile(state.SaveFileName, text) : AppendToFile(state.SaveFileName, text);
    if (!written) messages.Show("Cannot write file " + state.SaveFileName, "Error");
    return written;
}

}  // namespace kelvorin
