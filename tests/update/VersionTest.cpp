#include "update/Version.h"

#include <gtest/gtest.h>

namespace {

struct VersionRow {
    const char* newer;
    const char* older; // equal to `newer` when `same`
    bool same = false;
};

class VersionOrder : public ::testing::TestWithParam<VersionRow> {};

TEST_P(VersionOrder, ComparesBothWays) {
    const QString a = QString::fromLatin1(GetParam().newer);
    const QString b = QString::fromLatin1(GetParam().older);
    if (GetParam().same) {
        EXPECT_EQ(compareVersions(a, b), 0);
        EXPECT_EQ(compareVersions(b, a), 0);
    } else {
        EXPECT_GT(compareVersions(a, b), 0);
        EXPECT_LT(compareVersions(b, a), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionOrder,
    ::testing::Values(VersionRow{"1.10", "1.9"}, VersionRow{"10.0", "9.9.9"},
                      VersionRow{"1.2.1", "1.2"}, VersionRow{"1.2", "1.2.0", true},
                      VersionRow{"1.02", "1.2", true}, VersionRow{"0.1.0", "0.1.0", true},
                      VersionRow{"1.0", "1.0b1"}, VersionRow{"1.0.1", "1.0b1"},
                      VersionRow{"1.0b2", "1.0b1"}, VersionRow{"1.0rc1", "1.0beta3"},
                      VersionRow{"1.0RC1", "1.0rc1", true}, VersionRow{"2-1", "2.0.9"},
                      VersionRow{"123456789012345678901", "99999999999"}));

} // namespace
