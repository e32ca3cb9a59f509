// Helpers shared by the batch command line tests: splitting the program's
// output into reports, checking the banner and used-time lines, comparing
// report lines with the expected ones and temporary files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace kelvorin_cli_test {

// Placeholders that stand for the two lines of a report whose text depends
// on the clock; CheckedReport puts them in place of the real lines after
// checking their form.
inline const std::string kBanner = "<banner>";
inline const std::string kUsedTime = "<used time>";

__attribute__((format(printf, 1, 2))) inline std::string Printf(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// "--option NAME=VALUE" arguments for every option: the default of each in
// the README's option table, replaced by the "NAME=VALUE" entries of
// SETTINGS. Giving them all keeps the tests independent of any defaults
// stored elsewhere.
inline std::vector<std::string> OptionArguments(std::initializer_list<std::string> settings) {
    std::vector<std::pair<std::string, std::string>> options = {
        {"Observed", "1"},  {"Expected", "0"},  {"Column", "0"},     {"Row", "0"},        {"ExaLRtest", "1"},
        {"ExaCStest", "0"}, {"CountPos", "1"},  {"AppLRtest", "0"},  {"AppCStest", "0"},  {"Details", "0"},
        {"2x2twotail", "0"}, {"2x2onetail", "0"}, {"Track", "1"},     {"InputData", "0"}};
    for (const std::string& setting : settings) {
        const std::size_t equals = setting.find('=');
        const std::string name = setting.substr(0, equals);
        const std::string value = setting.substr(equals + 1);
        bool known = false;
        for (auto& option : options)
            if (option.first == name) {
                option.second = value;
                known = true;
            }
        if (!known) options.emplace_back(name, value);
    }
    std::vector<std::string> args;
    for (const auto& option : options) {
        args.push_back("--option");
        args.push_back(option.first + "=" + option.second);
    }
    return args;
}

// A fresh folder under /tmp (without a '.' in its path), removed at the end.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/kelvorin_cli_XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The output of a batch run, in order: reports (from their " " line to the
// empty line after the used time) and the lines between them.
struct OutputItem {
    bool IsReport = false;
    std::vector<std::string> Lines;
};

inline std::vector<OutputItem> SplitOutput(const std::string& text) {
    const std::vector<std::string> lines = SplitLines(text);
    std::vector<OutputItem> items;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const bool reportStart = lines[i] == " " && i + 1 < lines.size() && lines[i + 1].rfind("Zelkat", 0) == 0;
        if (!reportStart) {
            items.push_back({false, {lines[i]}});
            continue;
        }
        OutputItem report{true, {}};
        std::size_t j = i;
        for (; j < lines.size(); ++j) {
            report.Lines.push_back(lines[j]);
            if (lines[j].rfind("  Used time : ", 0) == 0) {
                if (j + 1 < lines.size()) report.Lines.push_back(lines[++j]);
                break;
            }
        }
        items.push_back(report);
        i = j;
    }
    return items;
}

inline std::vector<std::vector<std::string>> ReportsOf(const std::string& text) {
    std::vector<std::vector<std::string>> reports;
    for (const OutputItem& item : SplitOutput(text))
        if (item.IsReport) reports.push_back(item.Lines);
    return reports;
}

inline std::vector<std::string> LooseLinesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (const OutputItem& item : SplitOutput(text))
        if (!item.IsReport) lines.push_back(item.Lines.front());
    return lines;
}

// The banner: "Zelkat", 16 blanks, the start as "yyyy-mm-dd hh:mm:ss" (the
// time is left out at exactly midnight). When WINDOW is given, the start
// must lie within [first - 120 s, second + 120 s] of the local clock.
inline void CheckBanner(const std::string& line, const std::pair<std::time_t, std::time_t>* window = nullptr) {
    static const std::regex banner(R"(^Zelkat {16}(\d{4})-(\d{2})-(\d{2})(?: (\d{2}):(\d{2}):(\d{2}))?$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, banner)) << "banner line: '" << line << "'";
    if (window == nullptr) return;
    std::tm tm{};
    tm.tm_year = std::stoi(m[1]) - 1900;
    tm.tm_mon = std::stoi(m[2]) - 1;
    tm.tm_mday = std::stoi(m[3]);
    if (m[4].matched) {
        tm.tm_hour = std::stoi(m[4]);
        tm.tm_min = std::stoi(m[5]);
        tm.tm_sec = std::stoi(m[6]);
    }
    tm.tm_isdst = -1;
    const std::time_t shown = std::mktime(&tm);
    EXPECT_GE(shown, window->first - 120) << "banner: '" << line << "'";
    EXPECT_LE(shown, window->second + 120) << "banner: '" << line << "'";
}

inline void CheckUsedTime(const std::string& line) {
    static const std::regex usedTime(R"(^  Used time : \d{2}:\d{2}:\d{2}\.\d{3}$)");
    EXPECT_TRUE(std::regex_match(line, usedTime)) << "used time line: '" << line << "'";
}

// Checks the frame of a report (" ", the banner, ..., the used time, "") and
// returns its lines with the banner and the used time replaced by kBanner and
// kUsedTime.
inline std::vector<std::string> CheckedReport(std::vector<std::string> lines,
                                              const std::pair<std::time_t, std::time_t>* window = nullptr) {
    if (lines.size() < 4) {
        ADD_FAILURE() << "report of " << lines.size() << " lines";
        return lines;
    }
    EXPECT_EQ(lines[0], " ");
    CheckBanner(lines[1], window);
    CheckUsedTime(lines[lines.size() - 2]);
    EXPECT_EQ(lines.back(), "");
    lines[1] = kBanner;
    lines[lines.size() - 2] = kUsedTime;
    return lines;
}

// Compares report lines with the expected ones. An expected line of the
// form "PREFIX@VALUE" matches a line that starts with PREFIX and goes on with
// a number printed as %9.6f within 2e-6 of VALUE (p values that the test
// computes in closed form rather than the way the program does).
inline void ExpectLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected,
                        const std::string& what) {
    SCOPED_TRACE(what);
    const std::size_t n = std::min(actual.size(), expected.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = expected[i].find('@');
        if (at == std::string::npos) {
            EXPECT_EQ(actual[i], expected[i]) << "line " << i;
            continue;
        }
        const std::string prefix = expected[i].substr(0, at);
        const double value = std::stod(expected[i].substr(at + 1));
        ASSERT_EQ(actual[i].substr(0, prefix.size()), prefix) << "line " << i << ": '" << actual[i] << "'";
        const std::string number = actual[i].substr(prefix.size());
        EXPECT_EQ(number.size(), 9u) << "line " << i << ": '" << actual[i] << "'";
        EXPECT_NEAR(std::stod(number), value, 2e-6) << "line " << i << ": '" << actual[i] << "'";
    }
    EXPECT_EQ(actual.size(), expected.size()) << "number of lines";
}

inline std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// True when BLOCK occurs as consecutive lines of LINES.
inline bool ContainsBlock(const std::vector<std::string>& lines, const std::vector<std::string>& block) {
    if (block.size() > lines.size()) return false;
    for (std::size_t i = 0; i + block.size() <= lines.size(); ++i) {
        bool same = true;
        for (std::size_t k = 0; k < block.size() && same; ++k) same = lines[i + k] == block[k];
        if (same) return true;
    }
    return false;
}

inline bool ContainsLine(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines)
        if (l == line) return true;
    return false;
}

// The 2 x 2 table with rows 2 0 and 0 2: its observed table and, with all
// three exact tests, the three exact blocks of its known report (three
// sample points of probabilities 1/6, 2/3, 1/6; the observed G2 = 8 ln 2 and
// X2 = 4 are shared by the mirror table).
inline std::vector<std::string> TwoZeroObservedBlock() {
    return {"Observed Numbers.",
            "     2     0  |      2",
            "     0     2  |      2",
            "--------------+-------",
            "     2     2  |      4",
            ""};
}

inline std::vector<std::string> TwoZeroExactBlocks() {
    return {"",
            "Exact (multi tailed) Likelihood Ratio ",
            "  Greater than:        0 points with prob.  0.000000",
            "  Equal to:            2 points with prob.  0.333333",
            "  Less than:           1 points with prob.  0.666667",
            " ==>  Significance (recommended)     p =    0.333333 <==",
            "",
            "Exact (multi tailed) Chi Square ",
            "  Greater than:        0 points with prob.  0.000000",
            "  Equal to:            2 points with prob   0.333333",
            "  Less than:           1 points with prob.  0.666667",
            " -->  Significance                   p =    0.333333 <--",
            "",
            "Exact (multi tailed) Fisher test ",
            "  Less prob:           0 points with prob.  0.000000",
            "  Same prob:           2 points with prob.  0.333333",
            "  Greater prob:        1 points with prob.  0.666667",
            " -->  Significance                   p =    0.333333 <--",
            " This value is used by many statistical",
            " programs - like SPSS, Stata, SAS and R",
            ""};
}

}  // namespace kelvorin_cli_test
