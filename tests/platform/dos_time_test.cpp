#include "platform/dos_time.hpp"

#include <gtest/gtest.h>

#include <ostream>

#include "support/local_time.hpp"

namespace sejfko {
using test::LocalSeconds;

namespace {

constexpr uint32_t First = 0x00210000u;  // 1980-01-01 00:00:00
constexpr uint32_t Last = 0xFF9FBF7Du;   // 2107-12-31 23:59:58

struct TStampCase {
    const char* Label;
    int Year, Month, Day, Hour, Minute, Second;
    uint32_t Stamp;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TStampCase& c, std::ostream* out) {
    *out << c.Label;
}

class DosTimeTest : public testing::TestWithParam<TStampCase> {};

TEST_P(DosTimeTest, PacksLocalTimesAndClampsToTheRange) {
    const TStampCase& c = GetParam();
    EXPECT_EQ(static_cast<uint32_t>(UnixTimeToFileDate(
                  LocalSeconds(c.Year, c.Month, c.Day, c.Hour, c.Minute, c.Second))),
              c.Stamp);
    EXPECT_EQ(static_cast<uint32_t>(DateTimeToFileDate(
                  EncodeDateTime(c.Year, c.Month, c.Day, c.Hour, c.Minute, c.Second))),
              c.Stamp);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DosTimeTest,
    testing::Values(TStampCase{"Summer", 2021, 6, 15, 13, 45, 31, 0x52CF6DAFu},
                    TStampCase{"FirstMoment", 1980, 1, 1, 0, 0, 0, First},
                    TStampCase{"Before1980", 1975, 3, 4, 5, 6, 7, First},
                    TStampCase{"Epoch", 1970, 1, 2, 0, 0, 0, First},
                    TStampCase{"LastMoment", 2107, 12, 31, 23, 59, 59, Last},
                    TStampCase{"After2107", 2150, 6, 1, 12, 0, 0, Last},
                    // From 2044 the top bit is set: the stamp is negative as signed.
                    TStampCase{"Year2044", 2044, 2, 29, 23, 0, 58, 0x805DB81Du}),
    [](const testing::TestParamInfo<TStampCase>& info) { return info.param.Label; });

TEST(DosTimeTest, FileDateRoundTripsThroughDateTime) {
    for (uint32_t stamp : {First, Last, 0x52CF6DAFu, 0x805DB81Du}) {
        TDateTime value = 0;
        ASSERT_TRUE(FileDateToDateTime(static_cast<int32_t>(stamp), value)) << std::hex << stamp;
        EXPECT_EQ(static_cast<uint32_t>(DateTimeToFileDate(value)), stamp);
    }
    TDateTime value = 0;
    ASSERT_TRUE(FileDateToDateTime(0x52CF6DAF, value));
    EXPECT_DOUBLE_EQ(value, EncodeDateTime(2021, 6, 15, 13, 45, 30));
}

TEST(DosTimeTest, InvalidFieldsAreRefused) {
    const uint32_t date = 0x52CFu << 16;  // 2021-06-15
    for (uint32_t stamp : {
             0u,                                  // month and day 0
             (0x52C0u << 16),                     // day 0
             (41u << 25 | 13u << 21 | 1u << 16),  // month 13
             (41u << 25 | 2u << 21 | 29u << 16),  // 29 February 2021
             date | 24u << 11,                    // hour 24
             date | 60u << 5,                     // minute 60
             date | 30u,                          // second 60
         }) {
        TDateTime value = 0;
        EXPECT_FALSE(FileDateToDateTime(static_cast<int32_t>(stamp), value)) << std::hex << stamp;
    }
}

}  // namespace
}  // namespace sejfko
