// Helpers of the batch command line tests: files in a temporary folder, the
// batch mode run in-process, and its output cut into reports with the two
// lines that depend on the clock (banner, used time) replaced by markers.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "BatchMode.h"
#include "SettingsStore.h"
#include "engine/FakePorts.h"

namespace kelvorin_cli_test {

inline const std::string kBanner = "<banner>";
inline const std::string kUsedTime = "<used time>";

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path;
}

// A fresh folder under /tmp, removed with everything in it at the end.
using TempDir = kelvorin::fakes::TempDirectory;

struct BatchResult {
    int Status = -1;
    std::string Out, Err;
};

// Runs the batch mode on ARGS with STORE as the stored options (none: the built-in defaults).
inline BatchResult Batch(const std::vector<std::string>& args, const kelvorin::SettingsStore* store = nullptr) {
    std::ostringstream out, err;
    const int status = kelvorin::RunBatch(args, out, err, false, store);
    return {status, out.str(), err.str()};
}

// Runs it on DATA with each of SETTINGS ("NAME=VALUE") as an --option and MORE arguments.
inline BatchResult BatchOn(const std::string& data, const std::vector<std::string>& settings = {},
                           const std::vector<std::string>& more = {}, const kelvorin::SettingsStore* store = nullptr) {
    std::vector<std::string> args = {"--batch", data};
    args.insert(args.end(), more.begin(), more.end());
    for (const std::string& setting : settings) args.insert(args.end(), {"--option", setting});
    return Batch(args, store);
}

// The lines of TEXT with each banner and used time line replaced by its
// marker; a line of the wrong form is left as it is, so it does not match.
inline std::vector<std::string> Masked(const std::string& text) {
    static const std::regex banner(R"(Zelkat {16}\d{4}-\d{2}-\d{2}( \d{2}:\d{2}:\d{2})?)");
    static const std::regex usedTime(R"(  Used time : \d{2}:\d{2}:\d{2}\.\d{3})");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(std::regex_match(line, banner) ? kBanner : std::regex_match(line, usedTime) ? kUsedTime : line);
    return lines;
}

// The output in items: each report (from its " " line to the empty line
// after the used time) and each line outside the reports on its own.
inline std::vector<std::vector<std::string>> Items(const std::string& text) {
    std::vector<std::vector<std::string>> items;
    bool inReport = false, closing = false;
    for (const std::string& line : Masked(text)) {
        if (!inReport) items.emplace_back();
        items.back().push_back(line);
        if (closing)
            inReport = closing = false;
        else if (!inReport)
            inReport = line == " ";
        else
            closing = line == kUsedTime;
    }
    return items;
}

inline std::vector<std::vector<std::string>> Reports(const std::string& text) {
    auto items = Items(text);
    std::erase_if(items, [](const auto& item) { return item.size() == 1; });
    return items;
}

inline bool Contains(const std::vector<std::string>& lines, const std::vector<std::string>& block) {
    return std::search(lines.begin(), lines.end(), block.begin(), block.end()) != lines.end();
}

}  // namespace kelvorin_cli_test
