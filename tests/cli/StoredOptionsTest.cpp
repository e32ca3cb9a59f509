// The batch mode's options: those stored in the section "Option" are the
// base, each --option overrides one, --no-settings (or no store at all)
// gives the built-in defaults. The store is only read.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <tuple>

#include "ReportLines.h"

namespace {

using namespace kelvorin_cli_test;

// Stored options in memory: VALUES by section and name (nullopt: stored as
// something other than text, which reads as not stored); counts the writes.
class TestStore : public kelvorin::SettingsStore {
public:
    std::optional<std::string> ReadText(const std::string& section, const std::string& name) const override {
        const auto found = values.find({section, name});
        return found == values.end() ? std::nullopt : found->second;
    }
    void WriteText(const std::string&, const std::string&, const std::string&) override { ++writes; }

    std::map<std::pair<std::string, std::string>, std::optional<std::string>> values;
    int writes = 0;
};

// The report sections shown, one letter each: Observed, Expected, Column and
// Row percentages, exact Likelihood ratio, eXact chi-square, Fisher,
// approximate likelihood ratio (a) and Pearson (p), 2 x 2 two-tailed (2) and
// one-tailed (1).
std::string Sections(const std::string& out) {
    const std::vector<std::pair<char, std::string>> titles = {
        {'O', "Observed Numbers."}, {'E', "Expected Numbers."}, {'C', "Column percentages."},
        {'R', "Row percentages."}, {'L', "Exact (multi tailed) Likelihood Ratio "},
        {'X', "Exact (multi tailed) Chi Square "}, {'F', "Exact (multi tailed) Fisher test "},
        {'a', "Approx. Likelihood Ratio test"}, {'p', "Approx. Chi-Square test (Pearson)"},
        {'2', "2 x 2 Fisher exact test - 'two tailed'."}, {'1', "2 x 2 Fisher exact test - one tailed."}};
    std::string shown;
    for (const auto& [letter, title] : titles)
        if (out.find("\n" + title + "\n") != std::string::npos) shown += letter;
    return shown;
}

// Which store, stored values (section, name, value) and arguments give which
// sections; the built-in defaults are O, L and F. A faulty argument is a
// usage error whatever is stored.
TEST(StoredOptions, StoredValuesAndArgumentsChooseTheSections) {
    using Stored = std::vector<std::tuple<std::string, std::string, std::optional<std::string>>>;
    const struct {
        const char* What;
        bool WithStore;
        Stored Values;
        std::vector<std::string> Args;
        int Status;
        std::string Sections;
    } cases[] = {
        {"no store", false, {}, {}, 0, "OLF"},
        {"every section by its name", false, {},
         {"--option", "Expected=1", "--option", "Column=1", "--option", "Row=1", "--option", "ExaCStest=1", "--option",
          "AppLRtest=1", "--option", "AppCStest=1", "--option", "2x2twotail=1", "--option", "2x2onetail=1"},
         0, "OECRLXFap21"},
        {"empty store", true, {}, {}, 0, "OLF"},
        {"stored values; the rest keep their defaults", true,
         {{"Option", "Observed", "0"}, {"Option", "Expected", "1"}, {"Option", "ExaLRtest", "0"},
          {"Option", "ExaCStest", "1"}, {"Option", "AppCStest", "1"}, {"Option", "2x2onetail", "1"}},
         {}, 0, "EXFp1"},
        {"other sections", true, {{"Options", "Expected", "1"}, {"MainSetup", "AppLRtest", "1"}}, {}, 0, "OLF"},
        {"each argument overrides one stored value", true,
         {{"Option", "Expected", "1"}, {"Option", "AppCStest", "1"}, {"Option", "CountPos", "0"}},
         {"--option", "Expected=0", "--option", "CountPos=1"}, 0, "OLFp"},
        {"the last argument wins", true, {{"Option", "Column", "1"}}, {"--option", "Column=0", "--option", "Column=1"},
         0, "OCLF"},
        {"the last argument wins", true, {{"Option", "Column", "1"}}, {"--option", "Column=1", "--option", "Column=0"},
         0, "OLF"},
        {"--no-settings", true, {{"Option", "Observed", "0"}, {"Option", "AppLRtest", "1"}}, {"--no-settings"}, 0, "OLF"},
        {"--no-settings after an argument", true, {{"Option", "Observed", "0"}, {"Option", "AppLRtest", "1"}},
         {"--option", "Expected=1", "--no-settings"}, 0, "OELF"},
        {"faulty argument", true, {{"Option", "Track", "2"}}, {"--option", "Track=9"}, 2, ""},
    };
    TempDir dir;
    const std::string data = WriteFile(dir.File("table.dat"), "10 2\n3 15\n\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TestStore store;
        for (const auto& [section, name, value] : c.Values) store.values[{section, name}] = value;
        const BatchResult r = BatchOn(data, {}, c.Args, c.WithStore ? &store : nullptr);
        EXPECT_EQ(r.Status, c.Status) << r.Err;
        EXPECT_EQ(Sections(r.Out), c.Sections);
        EXPECT_EQ(store.writes, 0);
    }
}

}  // namespace
