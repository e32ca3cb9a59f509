// Reading the sample-point lines of a details file back: the number, the
// marks, the cells and the three values of each line.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace kelvorin::trace {

struct SamplePointLine {
    int number = -1;
    char observationMark = '?';
    std::vector<std::vector<int>> groups;  // the counts between "//" marks (one group without them)
    std::string probability;               // the probability as printed, 11 characters
    std::string likelihoodRatio;           // 8 characters
    char likelihoodRatioMark = '?';
    std::string pearson;                   // 8 characters
    char pearsonMark = '?';
};

inline std::vector<int> Counts(const std::string& text) {
    std::vector<int> counts;
    std::istringstream in(text);
    int v = 0;
    while (in >> v) counts.push_back(v);
    return counts;
}

// Parses "%6d%c " + cells + "  :: %11s %8s%c %8s%c".
inline SamplePointLine ParseSamplePointLine(const std::string& line) {
    SamplePointLine parsed;
    const std::size_t values = line.find("  :: ");
    if (line.size() < 8 || values == std::string::npos || line.size() != values + 5 + 31) {
        ADD_FAILURE() << "not a sample-point line: '" << line << "'";
        return parsed;
    }
    parsed.number = std::stoi(line.substr(0, 6));
    parsed.observationMark = line[6];
    EXPECT_EQ(line[7], ' ') << line;
    const std::string cells = line.substr(8, values - 8);
    if (cells.rfind("//", 0) == 0) {
        std::size_t start = 2;
        for (;;) {
            const std::size_t next = cells.find("//", start);
            parsed.groups.push_back(Counts(cells.substr(start, next == std::string::npos ? std::string::npos : next - start)));
            if (next == std::string::npos) break;
            start = next + 2;
        }
    } else {
        parsed.groups.push_back(Counts(cells));
    }
    const std::string tail = line.substr(values + 5);
    parsed.probability = tail.substr(0, 11);
    EXPECT_EQ(tail[11], ' ') << line;
    parsed.likelihoodRatio = tail.substr(12, 8);
    parsed.likelihoodRatioMark = tail[20];
    EXPECT_EQ(tail[21], ' ') << line;
    parsed.pearson = tail.substr(22, 8);
    parsed.pearsonMark = tail[30];
    return parsed;
}

// The sample-point lines of a details file written by one run: the lines
// after the column heading, without the "   lrq " and "   chi " lines.
inline std::vector<SamplePointLine> SamplePointLines(const std::vector<std::string>& file) {
    std::vector<SamplePointLine> lines;
    bool afterHeading = false;
    for (const std::string& line : file) {
        if (line.rfind(" number    ", 0) == 0) {
            afterHeading = true;
            continue;
        }
        if (!afterHeading || line.rfind("   lrq ", 0) == 0 || line.rfind("   chi ", 0) == 0) continue;
        lines.push_back(ParseSamplePointLine(line));
    }
    return lines;
}

// The counts of every group of a line, one after the other.
inline std::vector<int> AllCounts(const SamplePointLine& line) {
    std::vector<int> all;
    for (const auto& g : line.groups) all.insert(all.end(), g.begin(), g.end());
    return all;
}

}  // namespace kelvorin::trace
