// The text file under the data file reader and every file the program
// writes: line ends of every kind, bytes that are not text, lines without end
// and failures to open or write.
#include "TextFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FakePorts.h"

namespace kelvorin {
namespace {

using fakes::TempDirectory;
using Lines = std::vector<std::string>;

class TextFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes) {
        const std::string path = dir.File("file" + std::to_string(++files) + ".txt");
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Every line ReadLine gives for a file holding BYTES.
    Lines LinesOf(const std::string& bytes) {
        TextFile file;
        EXPECT_TRUE(file.Open(Write(bytes), TextFile::Mode::Read));
        Lines lines;
        std::string line;
        while (file.ReadLine(line)) lines.push_back(line);
        EXPECT_TRUE(line.empty());
        return lines;
    }

    TempDirectory dir;
    int files = 0;
};

TEST_F(TextFileTest, LineFeedCarriageReturnLineFeedAndALoneCarriageReturnEndALine) {
    EXPECT_EQ(LinesOf("1 2\n3 4\n\n"), (Lines{"1 2", "3 4", ""}));
    EXPECT_EQ(LinesOf("1 2\r\n3 4\r\n\r\n"), (Lines{"1 2", "3 4", ""}));
    EXPECT_EQ(LinesOf("1 2\r3 4\r\r"), (Lines{"1 2", "3 4", ""}));
    EXPECT_EQ(LinesOf("a\rb\r\nc\nd\r"), (Lines{"a", "b", "c", "d"}));
    // A carriage return before CR LF ends a line of its own.
    EXPECT_EQ(LinesOf("1 2\r\r\n3 4\r\r\n"), (Lines{"1 2", "", "3 4", ""}));
    // Line feed then carriage return are two line ends.
    EXPECT_EQ(LinesOf("x\n\ry"), (Lines{"x", "", "y"}));
}

TEST_F(TextFileTest, ALastLineWithoutLineEndIsReadAndAnEmptyFileHasNoLine) {
    EXPECT_EQ(LinesOf("1 2\n3 4"), (Lines{"1 2", "3 4"}));
    EXPECT_EQ(LinesOf(""), Lines{});
    EXPECT_EQ(LinesOf("\n"), Lines{""});
    EXPECT_EQ(LinesOf("\r"), Lines{""});
}

TEST_F(TextFileTest, NulAndOtherBytesStayInTheLineAndDoNotEndTheFile) {
    const char text[] = "1\0 2\n\x80\xff\x01\n\0\n3";
    const std::string bytes(text, sizeof text - 1);
    EXPECT_EQ(LinesOf(bytes), (Lines{std::string("1\0 2", 4), "\x80\xff\x01", std::string(1, '\0'), "3"}));
}

TEST_F(TextFileTest, OfAVeryLongLineOnlyTheFirstPartIsKeptAndTheNextLineFollows) {
    const std::size_t limit = TextFile::kMaxLineLength;
    std::string longLine(limit + 1000, '7');
    longLine[limit - 1] = 'a';
    longLine[limit] = 'b';
    const Lines lines = LinesOf("1\n" + longLine + "\n2 3\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1].size(), limit);
    EXPECT_EQ(lines[1].back(), 'a');
    EXPECT_EQ(lines[2], "2 3");

    // A file of three times the limit without any line end is one line.
    EXPECT_EQ(LinesOf(std::string(3 * limit, ' ')), Lines{std::string(limit, ' ')});
}

TEST_F(TextFileTest, FoldersAndMissingFilesDoNotOpen) {
    TextFile file;
    for (const TextFile::Mode mode : {TextFile::Mode::Read, TextFile::Mode::Write, TextFile::Mode::Append}) {
        EXPECT_FALSE(file.Open(dir.Path(), mode));
        EXPECT_FALSE(file.IsOpen());
        EXPECT_FALSE(file.Open("", mode));
        EXPECT_FALSE(file.Open(dir.File("no/such/folder.txt"), mode));
    }
    EXPECT_FALSE(file.Open(dir.File("missing.txt"), TextFile::Mode::Read));
    // A path through a file is refused for everyone, root included.
    const std::string plain = Write("x\n");
    EXPECT_FALSE(file.Open(plain + "/inside.txt", TextFile::Mode::Read));
    EXPECT_FALSE(file.Open(plain + "/inside.txt", TextFile::Mode::Append));
    std::string line = "left over";
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_EQ(line, "");
}

#if defined(__linux__)
TEST_F(TextFileTest, AFailedWriteIsRememberedAndReportedByClose) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TextFile file;
    ASSERT_TRUE(file.Open("/dev/full", TextFile::Mode::Append));
    // Buffered: the failure may show at a later write or only when closing.
    for (int i = 0; i < 3; ++i) file.Write(std::string(10000, 'x'));
    EXPECT_TRUE(file.Failed());
    EXPECT_FALSE(file.Close());
    EXPECT_FALSE(file.IsOpen());
    // Opening again starts afresh.
    ASSERT_TRUE(file.Open(Write(""), TextFile::Mode::Append));
    EXPECT_FALSE(file.Failed());
    EXPECT_TRUE(file.Write("ok\n"));
    EXPECT_TRUE(file.Close());

    TextFile closed;
    EXPECT_FALSE(closed.Write("x"));
    EXPECT_TRUE(closed.Failed());
}

TEST_F(TextFileTest, AReadErrorEndsTheLinesButIsToldApartFromTheEndOfTheFile) {
    // Reading the start of a process's memory fails with an input/output error.
    TextFile file;
    if (!file.Open("/proc/self/mem", TextFile::Mode::Read)) GTEST_SKIP() << "/proc/self/mem cannot be opened";
    EXPECT_FALSE(file.Failed());
    std::string line = "left over";
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_EQ(line, "");
    EXPECT_TRUE(file.Failed());
    // It stays failed, and so does Close.
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_TRUE(file.Failed());
    EXPECT_FALSE(file.Close());

    // At a clean end of the file nothing has failed.
    ASSERT_TRUE(file.Open(Write("1 2\n"), TextFile::Mode::Read));
    EXPECT_TRUE(file.ReadLine(line));
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_FALSE(file.Failed());
    EXPECT_TRUE(file.Close());
}

TEST_F(TextFileTest, FlushShowsAFullDiskBeforeClose) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TextFile file;
    ASSERT_TRUE(file.Open("/dev/full", TextFile::Mode::Append));
    // A short line stays in the buffer: only the flush reaches the device.
    EXPECT_TRUE(file.Write("1 2\n"));
    EXPECT_FALSE(file.Flush());
    EXPECT_TRUE(file.Failed());
    EXPECT_FALSE(file.Close());

    ASSERT_TRUE(file.Open(Write(""), TextFile::Mode::Append));
    EXPECT_TRUE(file.Write("ok\n"));
    EXPECT_TRUE(file.Flush());
    EXPECT_TRUE(file.Close());
}
#endif

}  // namespace
}  // namespace kelvorin
