// Version texts read as four numbers, and the comparison built on them.
#include "text/Versions.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    const char* text;
    TVersionNumbers numbers;
};

const ParseCase kParseCases[] = {
    {"1.2.3.4", {1, 2, 3, 4}},
    {"1.2.3.4.5", {1, 2, 3, 4}}, // a fifth number is dropped
    {"10", {10, 0, 0, 0}},
    {"1.23", {1, 23, 0, 0}},
    {"1,5", {1, 5, 0, 0}},
    {"1_5_7", {1, 5, 7, 0}},
    {"2.1 beta", {2, 1, 0, 0}},
    {"2.0 beta 3", {2, 3, 0, 0}}, // blanks go first, so "0" and "3" join
    {"v3.1", {3, 1, 0, 0}},
    {"", {0, 0, 0, 0}},
    {"beta", {0, 0, 0, 0}},
    {"1, 5", {1, 5, 0, 0}},   // ", " gives ". " then "."
    {"1,,5", {1, 5, 0, 0}},   // ".." collapses when a comma was there
    {"1..5", {1, 0, 5, 0}},   // but not in a plain dotted text
    {"1 ...5", {1, 0, 5, 0}}, // one pass: "..." leaves ".."
    {".5", {0, 5, 0, 0}},     // an empty first part is 0
    {"007.010", {7, 10, 0, 0}},
    {"2147483647.1", {2147483647, 1, 0, 0}},
    {"2147483648.1", {0, 1, 0, 0}}, // too large for the number: 0
    {"99999999999999999999.2", {0, 2, 0, 0}},
};

TEST(ParseVersion, Table) {
    for (const ParseCase& c : kParseCases)
        EXPECT_EQ(ParseVersion(c.text), c.numbers) << "text: \"" << c.text << "\"";
}

struct CompareCase {
    const char* first;
    const char* second;
    bool newer;
};

const CompareCase kCompareCases[] = {
    {"2.0", "1.9.9", true},
    {"1.9.9", "2.0", false},
    {"10.0", "9.9", true}, // numbers, not texts
    {"1.10", "1.9", true},
    {"1.2.3.5", "1.2.3.4", true},
    {"1.2.3.4", "1.2.3.5", false},
    {"1.2", "1.2.0.0", false}, // the same numbers
    {"1.2.0.0", "1.2", false},
    {"2.0", "2.0", false},
    {"", "", false},
    {"0.0.0.1", "", true},
    {"", "0.0.0.1", false},
    {"2.1 beta", "2.0", true},
    {"1,5", "1.4", true},
    {"1.2.3.4.9", "1.2.3.4", false}, // only four numbers count
    {"2.0", "1.99999999999", true},  // an oversized part counts as 0
};

TEST(IsNewerVersion, Table) {
    for (const CompareCase& c : kCompareCases)
        EXPECT_EQ(IsNewerVersion(c.first, c.second), c.newer)
            << "\"" << c.first << "\" vs \"" << c.second << "\"";
}

} // namespace
