#include "history/kind_words.h"

#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

// Both columns are on disk already (databases, users' rule files): a word changed in either
// loses a series' past or silences a rule.
TEST(KindWords, DatabasesAndRuleFilesKeepTheirOwnWords) {
    struct Case {
        Figure figure;
        std::string_view type, stored, ruled;
    } const cases[] = {{Figure::gpu, "", "gpu", "graphics"},
                       {Figure::gpu, "temperature", "temperature", "temperature"},
                       {Figure::retiredFiles, "", "retired", ""},
                       {Figure::sensor, "", "sensor", ""}};
    for (const auto& c : cases) {
        Series series;
        series.figure = c.figure;
        series.type = c.type;
        EXPECT_EQ(kindWord(series, KindWords::stored), c.stored) << c.type;
        EXPECT_EQ(kindWord(series, KindWords::ruled), c.ruled) << c.type;
    }
}

} // namespace
} // namespace brivane::cli
