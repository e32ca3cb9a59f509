// Reading the sample-point lines of a details file back: the number, the
// marks, the counts and the three values of each line.
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
    std::string probability;               // as printed, 11 characters
    char likelihoodRatioMark = '?';
    char pearsonMark = '?';
};

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
    std::string cells = line.substr(8, values - 8);
    if (cells.rfind("//", 0) != 0) cells = "//" + cells;
    for (std::size_t at = 0; at != std::string::npos; at = cells.find("//", at + 2)) {
        std::istringstream in(cells.substr(at + 2, cells.find("//", at + 2) - at - 2));
        parsed.groups.emplace_back();
        for (int v; in >> v;) parsed.groups.back().push_back(v);
    }
    parsed.probability = line.substr(values + 5, 11);
    parsed.likelihoodRatioMark = line[values + 5 + 20];
    parsed.pearsonMark = line[values + 5 + 30];
    return parsed;
}

// The sample-point lines after the column heading of a details file,
// without the "   lrq " and "   chi " lines.
inline std::vector<SamplePointLine> SamplePointLines(const std::vector<std::string>& file) {
    std::vector<SamplePointLine> lines;
    bool afterHeading = false;
    for (const std::string& line : file) {
        if (line.rfind(" number    ", 0) == 0) afterHeading = true;
        else if (afterHeading && line.rfind("   lrq ", 0) != 0 && line.rfind("   chi ", 0) != 0)
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
