// The text file under the data file reader and every file the program
// writes: line ends of every kind, bytes that are not text, overlong lines,
// and failures to open, read or write.
#include "TextFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "FakePorts.h"

namespace kelvorin {
namespace {

using Lines = std::vector<std::string>;

class TextFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes) {
        const std::string path = dir.File("file" + std::to_string(++files) + ".txt");
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Every line ReadLine gives for a file holding these bytes.
    Lines LinesOf(const std::string& bytes) {
        TextFile file;
        EXPECT_TRUE(file.Open(Write(bytes), TextFile::Mode::Read));
        Lines lines;
        for (std::string line; file.ReadLine(line);) lines.push_back(line);
        EXPECT_FALSE(file.Failed());
        return lines;
    }
    fakes::TempDirectory dir;
    int files = 0;
};

// LF, CR LF and a lone CR each end a line (CR CR LF is a line and an empty
// line, LF CR two line ends); a last line without an end is read; NUL and
// other bytes stay in the line and end neither the line nor the file; of an
// overlong line only the first part is kept and the next line follows.
TEST_F(TextFileTest, LineEndsAndBytesOfEveryKind) {
    const char binary[] = "1\0 2\n\x80\xff\x01\n\0\n3";
    const std::size_t limit = TextFile::kMaxLineLength;
    const std::string longLine = std::string(limit - 1, '7') + "ab" + std::string(1000, '7');
    const std::pair<std::string, Lines> cases[] = {
        {"1 2\n3 4\n\n", {"1 2", "3 4", ""}},          {"1 2\r\n3 4\r\n\r\n", {"1 2", "3 4", ""}},
        {"1 2\r3 4\r\r", {"1 2", "3 4", ""}},          {"a\rb\r\nc\nd\r", {"a", "b", "c", "d"}},
        {"1 2\r\r\n3 4\r\r\n", {"1 2", "", "3 4", ""}}, {"x\n\ry", {"x", "", "y"}},
        {"1 2\n3 4", {"1 2", "3 4"}},                  {"", {}},
        {"\n", {""}},                                  {"\r", {""}},
        {std::string(binary, sizeof binary - 1), {std::string("1\0 2", 4), "\x80\xff\x01", std::string(1, '\0'), "3"}},
        {"1\n" + longLine + "\n2 3\n", {"1", longLine.substr(0, limit), "2 3"}},
        {std::string(3 * limit, ' '), {std::string(limit, ' ')}},
        // A UTF-8 byte order mark is passed over where it begins the file only.
        {"\xEF\xBB\xBF" "1 2\r\n\xEF\xBB\xBF" "3\r\n", {"1 2", "\xEF\xBB\xBF" "3"}},
        {"\xEF\xBB\xBF", {""}},
    };
    for (const auto& [bytes, lines] : cases) EXPECT_EQ(LinesOf(bytes), lines) << bytes.substr(0, 40);
}

// Folders, empty names, missing files and paths through a file do not open
// (for root either); reading a file that is not open gives nothing.
TEST_F(TextFileTest, FoldersAndMissingFilesDoNotOpen) {
    TextFile file;
    const std::string inside = Write("x\n") + "/inside.txt";
    for (const TextFile::Mode mode : {TextFile::Mode::Read, TextFile::Mode::Write, TextFile::Mode::Append})
        for (const std::string& name : {dir.Path(), std::string(), dir.File("no/such/folder.txt"), inside})
            EXPECT_FALSE(file.Open(name, mode) || file.IsOpen()) << name;
    EXPECT_FALSE(file.Open(dir.File("missing.txt"), TextFile::Mode::Read));
    std::string line = "left over";
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_EQ(line, "");
}

// A failed write is remembered and reported by Flush and Close, whether it
// showed when the buffer spilled or only at the flush; opening again starts
// afresh; a closed file cannot be written. A read error (reading the start of
// a process's memory) ends the lines but is told apart from the end of the
// file by Failed and Close.
TEST_F(TextFileTest, FailedWritesAndReadsAreRememberedAndReportedByClose) {
    if (::access("/dev/full", W_OK) != 0 || ::access("/proc/self/mem", R_OK) != 0) GTEST_SKIP() << "no /dev/full or /proc";
    TextFile file;
    for (const std::string& text : {std::string(30000, 'x'), std::string("1 2\n")}) {
        ASSERT_TRUE(file.Open("/dev/full", TextFile::Mode::Append));
        const bool buffered = text.size() < 100;
        EXPECT_EQ(file.Write(text), buffered);
        EXPECT_EQ(file.Failed(), !buffered);
        EXPECT_TRUE(!buffered || !file.Flush());
        EXPECT_TRUE(file.Failed() && !file.Close() && !file.IsOpen());
        ASSERT_TRUE(file.Open(Write(""), TextFile::Mode::Append));
        EXPECT_TRUE(!file.Failed() && file.Write("ok\n") && file.Flush() && file.Close());
    }
    EXPECT_FALSE(file.Write("x"));
    EXPECT_TRUE(file.Failed());
    ASSERT_TRUE(file.Open("/proc/self/mem", TextFile::Mode::Read));
    std::string line = "left over";
    EXPECT_FALSE(file.ReadLine(line) || file.ReadLine(line));
    EXPECT_EQ(line, "");
    EXPECT_TRUE(file.Failed() && !file.Close());
}

}  // namespace
}  // namespace kelvorin
