// Data files and result files that are not what the Table commands expect:
// other line ends, bytes that are not text, a missing last line end, a
// folder or an unreadable file given as data file, weights that cannot be
// used, and a result file that cannot be created. Each gets its message and
// nothing that was there is lost.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "AnalysisEngine.h"
#include "CommandFakes.h"
#include "TextFile.h"

namespace kelvorin {
namespace {

using namespace commandfakes;
using Counts = std::vector<std::vector<int>>;
using Lines = std::vector<std::string>;
using Message = std::pair<std::string, std::string>;

const char* const kNoData = "No data avaiable";

// Every run quick: the observed table and the expected counts only.
AnalysisOptions Descriptive() {
    AnalysisOptions options;
    for (int i = 0; i < 12; ++i) BooleanOption(options, i) = false;
    options.Observed = true;
    options.Expected = true;
    return options;
}

class BadDataFilesTest : public commandfakes::CommandsHarness {
protected:
    BadDataFilesTest() : CommandsHarness(Descriptive(), "kelvorin_baddata") {}

    // The tables of PATH as "from new file" and then "from same file" read
    // them, each with its report, until no table is left.
    std::vector<std::pair<Counts, Lines>> ReadAll(const std::string& path) {
        std::vector<std::pair<Counts, Lines>> tables;
        ReadNew(path);
        while (env.report.lines != Lines{kNoData} && tables.size() < 20) {
            tables.emplace_back(TableInState(), env.report.lines);
            commands.ReadFromSameFile();
        }
        return tables;
    }
};

// Two tables and a one-row table with its weights, with line feeds.
const std::string kTables = "2 3\n4 5\n\n6 7 8\n1 2 3\n\n6 8 10\n\n1 1 2\n\n";

// The bytes of a string literal that may hold NUL characters.
template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

std::string WithLineEnds(const std::string& text, const std::string& end) {
    std::string changed;
    for (const char c : text) changed += c == '\n' ? end : std::string(1, c);
    return changed;
}

TEST_F(BadDataFilesTest, CarriageReturnsAloneOrMixedEndLinesAsLineFeedsDo) {
    const auto expected = ReadAll(WriteFile("lf.dat", kTables));
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(expected[0].first, (Counts{{2, 3}, {4, 5}}));
    EXPECT_EQ(expected[2].first, (Counts{{6, 8, 10}}));

    EXPECT_EQ(ReadAll(WriteFile("cr.dat", WithLineEnds(kTables, "\r"))), expected);
    EXPECT_EQ(ReadAll(WriteFile("crlf.dat", WithLineEnds(kTables, "\r\n"))), expected);
    EXPECT_EQ(ReadAll(WriteFile("mixed.dat", "2 3\r\n4 5\r\r6 7 8\n1 2 3\r\n\n6 8 10\r\r\n1 1 2\r")), expected);
    EXPECT_TRUE(env.messages.errorAborts.empty());
    EXPECT_TRUE(env.messages.shown.empty());
}

TEST_F(BadDataFilesTest, ALastLineWithoutLineEndIsRead) {
    ReadNew(WriteFile("table.dat", "1 2\n3 4"));
    EXPECT_EQ(TableInState(), (Counts{{1, 2}, {3, 4}}));

    ReadNew(WriteFile("weights.dat", "5 7 9\n\n1 1 2"));
    EXPECT_EQ(TableInState(), (Counts{{5, 7, 9}}));
    EXPECT_EQ(State().Proportions, (std::vector<double>{0.25, 0.25, 0.5}));
    commands.ReadFromSameFile();
    EXPECT_EQ(env.report.lines, Lines{kNoData});
}

TEST_F(BadDataFilesTest, BinaryBytesEndTheScanOfALineLikeTextAndTheFileReadsOn) {
    // A NUL after the numbers ends the line's scan; a NUL or a byte above 127
    // at the start of a line makes it a line without numbers.
    const std::string bytes = Bytes("1 2\0 9\n3 4\n\n\0\n\x80 5 6\n7 8\n9 10\n\n");
    ReadNew(WriteFile("nul.dat", bytes));
    EXPECT_EQ(TableInState(), (Counts{{1, 2}, {3, 4}}));
    // The command itself reads on past the lines without numbers.
    commands.ReadFromSameFile();
    EXPECT_EQ(env.report.lines, Lines{kNoData});
    commands.ReadFromSameFile();
    EXPECT_EQ(env.report.lines, Lines{kNoData});
    commands.ReadFromSameFile();
    EXPECT_EQ(TableInState(), (Counts{{7, 8}, {9, 10}}));

    // The picture file a user picked by mistake holds no table.
    ReadNew(WriteFile("picture.png", Bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0")));
    EXPECT_EQ(env.report.lines, Lines{kNoData});
    EXPECT_EQ(env.status.Last(), kNoData);
    EXPECT_TRUE(env.messages.errorAborts.empty());
    EXPECT_TRUE(env.messages.shown.empty());
}

TEST_F(BadDataFilesTest, AFolderOrAFileThatCannotBeReadGivesNoData) {
    std::filesystem::create_directory(PathOf("folder.dat"));
    const std::string plain = WriteFile("plain.dat", "1 2\n3 4\n\n");
    const std::vector<std::string> unreadable = {PathOf("folder.dat"), plain + "/inside.dat",
                                                 PathOf("missing.dat")};
    for (const std::string& path : unreadable) {
        SCOPED_TRACE(path);
        env.report.lines = {"previous report"};
        ReadNew(path);
        EXPECT_EQ(env.report.lines, Lines{kNoData});
        EXPECT_EQ(env.status.Last(), kNoData);
        EXPECT_FALSE(State().Table.Exists());
    }
    EXPECT_TRUE(env.messages.errorAborts.empty());
}

TEST_F(BadDataFilesTest, AFileThatOpensButCannotBeReadIsADataErrorAndBulkProcessingStopsAtIt) {
    // Reading the start of a process's memory fails with an input/output
    // error: no end of the data, which would say "No data avaiable".
    const std::string unreadable = "/proc/self/mem";
    if (!TextFile().Open(unreadable, TextFile::Mode::Read)) GTEST_SKIP() << unreadable << " cannot be opened";
    const std::string dataError = "Data error reading file " + unreadable;
    env.report.lines = {"previous report"};
    ReadNew(unreadable);
    EXPECT_EQ(env.messages.errorAborts, std::vector<std::string>{dataError});
    EXPECT_EQ(env.report.lines, Lines{"previous report"});
    // The file stays failed: reading on gives the error again.
    commands.ReadFromSameFile();
    EXPECT_EQ(env.messages.errorAborts, (std::vector<std::string>{dataError, dataError}));
    EXPECT_FALSE(State().Table.Exists());

    const std::string result = PathOf("result.txt");
    Bulk(unreadable, result);
    EXPECT_EQ(Contents(result), dataError + "\n");
    EXPECT_TRUE(env.messages.shown.empty());
}

TEST_F(BadDataFilesTest, BulkProcessingOfAFolderDeletesNoResultFile) {
    std::filesystem::create_directory(PathOf("folder.dat"));
    const std::string result = WriteFile("result.txt", "an older result\n");
    env.report.AppendLine("previous report");
    env.openDialog1.Confirm(PathOf("folder.dat"));

    commands.BulkProcessing();

    EXPECT_EQ(Contents(result), "an older result\n");
    EXPECT_EQ(env.saveDialog1.executions, 0);
    EXPECT_EQ(env.report.lines, Lines{"previous report"});
    EXPECT_TRUE(env.results.lines.empty());
}

TEST_F(BadDataFilesTest, ABulkResultFileThatCannotBeCreatedIsSaidOnceAndTheReportsGoToTheEditor) {
    const std::string data = WriteFile("two.dat", "1 2\n3 4\n\n5 6\n7 8\n\n");
    std::filesystem::create_directory(PathOf("folder.txt"));
    for (const std::string& result : {PathOf("no/such/folder/result.txt"), PathOf("folder.txt")}) {
        SCOPED_TRACE(result);
        env.messages.shown.clear();
        env.results.lines.clear();

        Bulk(data, result);

        EXPECT_EQ(env.messages.shown, (std::vector<Message>{{"Cannot write file " + result, "Error"}}));
        EXPECT_EQ(std::count(env.results.lines.begin(), env.results.lines.end(), "Observed Numbers."), 2);
        EXPECT_TRUE(env.report.lines.empty());
    }
    EXPECT_TRUE(std::filesystem::is_directory(PathOf("folder.txt")));
    EXPECT_FALSE(std::filesystem::exists(PathOf("no")));
}

TEST_F(BadDataFilesTest, WeightsOfZeroOrBelowFromAFileAreRefusedNamingTheCategory) {
    ReadNew(WriteFile("weights.dat", "5 7 9\n\n1 0 2\n\n5 7 9\n\n1 1 -2\n\n"));
    ASSERT_EQ(env.messages.shown.size(), 1u);
    EXPECT_EQ(env.messages.shown[0].second, "Error");
    EXPECT_NE(env.messages.shown[0].first.find('2'), std::string::npos) << env.messages.shown[0].first;
    EXPECT_TRUE(env.report.lines.empty());

    commands.ReadFromSameFile();
    ASSERT_EQ(env.messages.shown.size(), 2u);
    EXPECT_NE(env.messages.shown[1].first.find('3'), std::string::npos) << env.messages.shown[1].first;
    EXPECT_TRUE(env.report.lines.empty());
}

TEST_F(BadDataFilesTest, WeightsWrittenWithDecimalsOrTextGiveEqualProportions) {
    // Whole numbers only: "0.25" reads as 0 and ends its line, text ends the
    // block, so neither holds one weight per category.
    for (const std::string weights : {"0.25 0.25 0.5", "a b c", "1,1,2"}) {
        SCOPED_TRACE(weights);
        ReadNew(WriteFile("weights.dat", "5 7 9\n\n" + weights + "\n\n"));
        EXPECT_EQ(TableInState(), (Counts{{5, 7, 9}}));
        EXPECT_EQ(State().Proportions, (std::vector<double>{1.0 / 3, 1.0 / 3, 1.0 / 3}));
    }
    EXPECT_TRUE(env.messages.shown.empty());
}

}  // namespace
}  // namespace kelvorin
