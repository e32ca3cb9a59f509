// The batch mode's options: those stored in the section "Option" are the
// base, each --option overrides one, --no-settings (or no store at all)
// gives the built-in defaults. The store is only read.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "BatchMode.h"
#include "SettingsStore.h"

namespace {

// Sections of named text values in memory; a value can also be stored as
// something other than text, which reads as not stored.
class TestStore : public kelvorin::SettingsStore {
public:
    std::optional<std::string> ReadText(const std::string& section, const std::string& name) const override {
        const auto found = values_.find({section, name});
        if (found == values_.end() || !found->second) return std::nullopt;
        return *found->second;
    }
    void WriteText(const std::string& section, const std::string& name, const std::string& value) override {
        values_[{section, name}] = value;
        ++writes_;
    }

    // Stores VALUE under NAME in the section "Option" without counting it as
    // a write of the program.
    void Option(const std::string& name, const std::string& value) { values_[{"Option", name}] = value; }
    void NonTextOption(const std::string& name) { values_[{"Option", name}] = std::nullopt; }
    void Put(const std::string& section, const std::string& name, const std::string& value) {
        values_[{section, name}] = value;
    }
    int Writes() const { return writes_; }

private:
    std::map<std::pair<std::string, std::string>, std::optional<std::string>> values_;
    int writes_ = 0;
};

struct Result {
    int Status = -1;
    std::string Out;
    std::string Err;
    bool Has(const std::string& line) const { return Out.find("\n" + line + "\n") != std::string::npos; }
};

// Report block titles, as the report writes them.
const std::string kObserved = "Observed Numbers.";
const std::string kExpected = "Expected Numbers.";
const std::string kColumn = "Column percentages.";
const std::string kExactLR = "Exact (multi tailed) Likelihood Ratio ";
const std::string kExactChi = "Exact (multi tailed) Chi Square ";
const std::string kFisher = "Exact (multi tailed) Fisher test ";
const std::string kApproxLR = "Approx. Likelihood Ratio test";
const std::string kApproxChi = "Approx. Chi-Square test (Pearson)";
const std::string kOneTailed = "2 x 2 Fisher exact test - one tailed.";

class StoredOptions : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kelvorin-stored-options-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        dataFile_ = File("table.dat");
        std::ofstream(dataFile_) << "10 2\n3 15\n\n";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string File(const std::string& name) const { return (folder_ / name).string(); }

    Result Batch(std::vector<std::string> more, const kelvorin::SettingsStore* settings) {
        std::vector<std::string> args = {"--batch", dataFile_};
        args.insert(args.end(), more.begin(), more.end());
        std::ostringstream out;
        std::ostringstream err;
        Result result;
        result.Status = kelvorin::RunBatch(args, out, err, false, settings);
        result.Out = out.str();
        result.Err = err.str();
        return result;
    }

    std::filesystem::path folder_;
    std::string dataFile_;
    TestStore store;
};

// The sections of the built-in defaults: observed numbers, the exact
// likelihood-ratio test and the Fisher test.
void ExpectDefaultSections(const Result& r) {
    EXPECT_TRUE(r.Has(kObserved));
    EXPECT_TRUE(r.Has(kExactLR));
    EXPECT_TRUE(r.Has(kFisher));
    EXPECT_FALSE(r.Has(kExpected));
    EXPECT_FALSE(r.Has(kColumn));
    EXPECT_FALSE(r.Has(kExactChi));
    EXPECT_FALSE(r.Has(kApproxLR));
    EXPECT_FALSE(r.Has(kApproxChi));
    EXPECT_FALSE(r.Has(kOneTailed));
}

TEST_F(StoredOptions, WithoutAStoreTheBuiltInDefaultsApply) {
    const Result r = Batch({}, nullptr);
    ASSERT_EQ(r.Status, kelvorin::kBatchOk) << r.Err;
    ExpectDefaultSections(r);
}

TEST_F(StoredOptions, AnEmptyStoreGivesTheBuiltInDefaults) {
    const Result r = Batch({}, &store);
    ASSERT_EQ(r.Status, kelvorin::kBatchOk) << r.Err;
    ExpectDefaultSections(r);
}

TEST_F(StoredOptions, StoredOptionsChooseTheSections) {
    store.Option("Observed", "0");
    store.Option("Expected", "1");
    store.Option("ExaLRtest", "0");
    store.Option("ExaCStest", "1");
    store.Option("AppCStest", "1");
    store.Option("2x2onetail", "1");
    const Result r = Batch({}, &store);
    ASSERT_EQ(r.Status, kelvorin::kBatchOk) << r.Err;
    EXPECT_FALSE(r.Has(kObserved));
    EXPECT_TRUE(r.Has(kExpected));
    EXPECT_FALSE(r.Has(kExactLR));
    EXPECT_TRUE(r.Has(kExactChi));
    EXPECT_TRUE(r.Has(kApproxChi));
    EXPECT_TRUE(r.Has(kOneTailed));
    // What is not stored keeps its default.
    EXPECT_TRUE(r.Has(kFisher));
    EXPECT_FALSE(r.Has(kApproxLR));
    // Running reads the store and writes nothing to it.
    EXPECT_EQ(store.Writes(), 0);
}

TEST_F(StoredOptions, OnlyTheSectionOptionCounts) {
    store.Put("Options", "Expected", "1");
    store.Put("MainSetup", "AppLRtest", "1");
    const Result r = Batch({}, &store);
    ExpectDefaultSections(r);
}

TEST_F(StoredOptions, EachOptionArgumentOverridesOneStoredValue) {
    store.Option("Expected", "1");
    store.Option("AppCStest", "1");
    store.Option("CountPos", "0");
    const Result r = Batch({"--option", "Expected=0", "--option", "CountPos=1"}, &store);
    ASSERT_EQ(r.Status, kelvorin::kBatchOk) << r.Err;
    EXPECT_FALSE(r.Has(kExpected));
    EXPECT_TRUE(r.Has(kFisher));
    // The stored value that no argument names stays.
    EXPECT_TRUE(r.Has(kApproxChi));
}

TEST_F(StoredOptions, TheLastArgumentForAnOptionWins) {
    store.Option("Column", "1");
    const Result r = Batch({"--option", "Column=0", "--option", "Column=1"}, &store);
    EXPECT_TRUE(r.Has(kColumn));
    const Result again = Batch({"--option", "Column=1", "--option", "Column=0"}, &store);
    EXPECT_FALSE(again.Has(kColumn));
}

TEST_F(StoredOptions, NoSettingsIgnoresTheStoreButNotTheArguments) {
    store.Option("Observed", "0");
    store.Option("CountPos", "0");
    store.Option("AppLRtest", "1");
    const Result r = Batch({"--no-settings"}, &store);
    ASSERT_EQ(r.Status, kelvorin::kBatchOk) << r.Err;
    ExpectDefaultSections(r);

    // Wherever it stands among the arguments.
    const Result mixed = Batch({"--option", "Expected=1", "--no-settings"}, &store);
    ASSERT_EQ(mixed.Status, kelvorin::kBatchOk) << mixed.Err;
    EXPECT_TRUE(mixed.Has(kExpected));
    EXPECT_TRUE(mixed.Has(kObserved));
    EXPECT_FALSE(mixed.Has(kApproxLR));
}

TEST_F(StoredOptions, UnreadableStoredValuesGiveTheirDefaults) {
    store.Option("Observed", "no");
    store.NonTextOption("ExaLRtest");
    store.Option("CountPos", "");
    store.Option("Expected", "1");
    const Result r = Batch({}, &store);
    ASSERT_EQ(r.Status, kelvorin::kBatchOk) << r.Err;
    EXPECT_TRUE(r.Has(kObserved));
    EXPECT_TRUE(r.Has(kExactLR));
    EXPECT_TRUE(r.Has(kFisher));
    EXPECT_TRUE(r.Has(kExpected));
}

// The stored detail level reaches the trace, clamped to 0..4 as the options
// dialog would show it.
TEST_F(StoredOptions, StoredTrackIsClampedForTheDetailsFile) {
    std::ofstream(dataFile_, std::ios::trunc) << "2 0\n0 2\n\n";
    auto trace = [&](const std::string& track) {
        const std::string details = File("details-" + track + ".txt");
        store.Option("Details", "1");
        store.Option("Track", track);
        const Result r = Batch({"--details", details}, &store);
        EXPECT_EQ(r.Status, kelvorin::kBatchOk) << r.Err;
        std::ifstream in(details);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    };
    auto count = [](const std::vector<std::string>& lines, const std::string& start) {
        int n = 0;
        for (const std::string& line : lines)
            if (line.rfind(start, 0) == 0) ++n;
        return n;
    };
    auto samplePoints = [](const std::vector<std::string>& lines) {
        int n = 0;
        for (const std::string& line : lines)
            if (line.find("  :: ") != std::string::npos) ++n;
        return n;
    };

    // 7 counts as 4: every one of the three sample points with both lines.
    const std::vector<std::string> high = trace("7");
    EXPECT_EQ(samplePoints(high), 3);
    EXPECT_EQ(count(high, "   lrq "), 3);
    EXPECT_EQ(count(high, "   chi "), 3);

    // -2 counts as 0: only the marked observed table.
    const std::vector<std::string> low = trace("-2");
    EXPECT_EQ(samplePoints(low), 1);
    EXPECT_EQ(count(low, "   lrq "), 0);
    EXPECT_EQ(count(low, "   chi "), 0);
}

TEST_F(StoredOptions, AFaultyOptionArgumentIsAUsageErrorWhateverIsStored) {
    store.Option("Track", "2");
    const Result r = Batch({"--option", "Track=9"}, &store);
    EXPECT_EQ(r.Status, kelvorin::kBatchUsage);
    EXPECT_EQ(r.Out, "");
    EXPECT_NE(r.Err.find("Track"), std::string::npos) << r.Err;
}

TEST_F(StoredOptions, TheUsageNamesNoSettings) {
    EXPECT_NE(kelvorin::BatchUsage().find("--no-settings"), std::string::npos);
}

}  // namespace
