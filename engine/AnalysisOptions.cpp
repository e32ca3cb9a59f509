#include "AnalysisOptions.h"

#include "TextConversions.h"

namespace kelvorin {

namespace {
template <typename Options, typename Result>
Result& BooleanField(Options& o, int index) {
    switch (index) {
        case 0: return o.Observed;
        case 1: return o.Expected;
        case 2: return o.Column;
        case 3: return o.Row;
        case 4: return o.ExaLRtest;
        case 5: return o.ExaCStest;
        case 6: return o.AppLRtest;
        case 7: return o.AppCStest;
        case 8: return o.CountPos;
        case 9: return o.Details;
        case 10: return o.Opt2x2twotail;
        default: return o.Opt2x2onetail;
    }
}
}  // namespace

bool& BooleanOption(AnalysisOptions& options, int index) {
    return BooleanField<AnalysisOptions, bool>(options, index);
}

bool BooleanOption(const AnalysisOptions& options, int index) {
    return BooleanField<const AnalysisOptions, const bool>(options, index);
}

std::optional<std::string> SetOptionByName(AnalysisOptions& options, const std::string& name,
                                           const std::string& value) {
    const std::optional<std::int32_t> number = ParseInt32(value);
    for (int index = 0; index < 12; ++index) {
        if (name != kBooleanOptionNames[index]) continue;
        if (!number || (*number != 0 && *number != 1))
            return "option " + name + " takes 0 or 1, not '" + value + "'";
        BooleanOption(options, index) = *number != 0;
        return std::nullopt;
    }
    if (name == "Track") {
        if (!number || *number < 0 || *number > 4) return "option Track takes 0 to 4, not '" + value + "'";
        options.Track = *number;
        return std::nullopt;
    }
    if (name == "InputData") {
        if (!number || *number < -1 || *number > 1)
            return "option InputData takes -1, 0 or 1, not '" + value + "'";
        options.InputData = *number;
        return std::nullopt;
    }
    return "unknown option '" + name + "'";
}

}  // namespace kelvorin
