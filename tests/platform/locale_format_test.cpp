#include "platform/locale_format.hpp"

#include <gtest/gtest.h>
#include <locale.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>

namespace sejfko {
namespace {

const char* const Czech = "cs_CZ.UTF-8";

bool LocaleAvailable(const char* name) {
    locale_t locale = newlocale(LC_ALL_MASK, name, locale_t{});
    if (locale == locale_t{}) {
        return false;
    }
    freelocale(locale);
    return true;
}

#define REQUIRE_CZECH_LOCALE()                                                       \
    if (!LocaleAvailable(Czech)) {                                                   \
        GTEST_SKIP() << "locale cs_CZ.UTF-8 is not generated here (run locale-gen)"; \
    }

TEST(LocaleFormat, CConventions) {
    for (const TLocaleFormat& format :
         {TLocaleFormat(), TLocaleFormat::FromName("C", "C"), TLocaleFormat::FromName("", ""),
          TLocaleFormat::FromName("xx_NOWHERE.bogus", "xx_NOWHERE.bogus")}) {
        EXPECT_EQ(format.DecimalSeparator(), '.');
        EXPECT_EQ(format.LongMonthName(1), "January");
        EXPECT_EQ(format.LongMonthName(12), "December");
        EXPECT_EQ(format.LongMonthName(0), "");
        EXPECT_EQ(format.LongMonthName(13), "");
        EXPECT_EQ(format.FormatFloat(0.875), "0.875");
        EXPECT_EQ(format.FormatDisplay(100.5), "9.April 1900 12:00:00");
    }
}

TEST(LocaleFormat, CzechSeparatorAndNominativeMonths) {
    REQUIRE_CZECH_LOCALE();
    const TLocaleFormat czech = TLocaleFormat::FromName(Czech, Czech);
    EXPECT_EQ(czech.DecimalSeparator(), ',');
    const std::array<const char*, 12> expected = {"leden",  "únor",   "březen",   "duben",
                                                  "květen", "červen", "červenec", "srpen",
                                                  "září",   "říjen",  "listopad", "prosinec"};
    for (int month = 1; month <= 12; ++month) {
        EXPECT_EQ(czech.LongMonthName(month), expected[static_cast<std::size_t>(month - 1)]);
    }
    EXPECT_EQ(czech.FormatDisplay(100.5), "9.duben 1900 12:00:00");
    EXPECT_EQ(czech.FormatDisplay(EncodeDateTime(2026, 12, 8, 7, 5, 9)),
              "8.prosinec 2026 07:05:09");
}

TEST(LocaleFormat, NumericAndTimeLocalesAreIndependent) {
    REQUIRE_CZECH_LOCALE();
    const TLocaleFormat mixed = TLocaleFormat::FromName(Czech, "C");
    EXPECT_EQ(mixed.DecimalSeparator(), ',');
    EXPECT_EQ(mixed.LongMonthName(4), "April");
    const TLocaleFormat other = TLocaleFormat::FromName("C", Czech);
    EXPECT_EQ(other.DecimalSeparator(), '.');
    EXPECT_EQ(other.LongMonthName(4), "duben");
}

TEST(LocaleFormat, FormatFloatUsesFifteenSignificantDigits) {
    REQUIRE_CZECH_LOCALE();
    const TLocaleFormat czech = TLocaleFormat::FromName(Czech, Czech);
    const std::pair<double, const char*> cases[] = {{45000.875, "45000,875"},
                                                    {0.875, "0,875"},
                                                    {100.0, "100"},
                                                    {0.0, "0"},
                                                    {-1.25, "-1,25"},
                                                    {1.0 / 3, "0,333333333333333"},
                                                    {2958465.99999999, "2958465,99999999"},
                                                    {1e20, "1e+20"}};
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(czech.FormatFloat(value), text);
        double back = -1;
        EXPECT_TRUE(czech.TryParseFloat(czech.FormatFloat(value), back)) << text;
        EXPECT_NEAR(back, value, 1e-9) << text;
    }
}

struct TParseCase {
    bool CommaLocale;
    const char* Text;
    bool Ok;
    double Value;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TParseCase& c, std::ostream* out) {
    *out << c.Text;
}

class ParseFloat : public testing::TestWithParam<TParseCase> {};

TEST_P(ParseFloat, WholeTextMustBeANumberWithEitherSeparator) {
    const TParseCase& c = GetParam();
    if (c.CommaLocale) {
        REQUIRE_CZECH_LOCALE();
    }
    const TLocaleFormat format =
        c.CommaLocale ? TLocaleFormat::FromName(Czech, Czech) : TLocaleFormat::FromName("C", "C");
    double value = 42.0;
    EXPECT_EQ(format.TryParseFloat(c.Text, value), c.Ok);
    // A failed conversion leaves the caller's value alone.
    EXPECT_DOUBLE_EQ(value, c.Ok ? c.Value : 42.0);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseFloat,
    testing::Values(
        TParseCase{true, "0,875", true, 0.875}, TParseCase{true, " 45000,875\t", true, 45000.875},
        TParseCase{true, "+2", true, 2.0}, TParseCase{true, "-0,5", true, -0.5},
        TParseCase{true, "1,5E3", true, 1500.0}, TParseCase{true, ",5", true, 0.5},
        TParseCase{true, "7,", true, 7.0},
        // A value written under a point locale reads under a comma locale, and back; never
        // both separators, and no grouping.
        TParseCase{true, "0.875", true, 0.875}, TParseCase{false, "0,875", true, 0.875},
        TParseCase{false, "-1,5e2", true, -150.0}, TParseCase{true, "1.000,5", false, 0},
        TParseCase{false, "1,000.5", false, 0}, TParseCase{false, "1,2.3", false, 0},
        TParseCase{false, "45000.875", true, 45000.875}, TParseCase{false, "-1e-3", true, -0.001},
        TParseCase{true, "", false, 0}, TParseCase{true, "  ", false, 0},
        TParseCase{true, ",", false, 0}, TParseCase{true, "1,2,3", false, 0},
        TParseCase{true, "1 000", false, 0}, TParseCase{true, "abc", false, 0},
        TParseCase{true, "12abc", false, 0}, TParseCase{true, "1e", false, 0},
        TParseCase{true, "e5", false, 0}, TParseCase{true, "--1", false, 0},
        TParseCase{false, "nan", false, 0}, TParseCase{false, "inf", false, 0},
        TParseCase{false, "0x10", false, 0}, TParseCase{false, "1e999", false, 0}));

// The process's own locale must change nothing: both front ends read each other's files.
TEST(LocaleFormat, ProcessLocaleDoesNotMatter) {
    REQUIRE_CZECH_LOCALE();
    const std::string saved = setlocale(LC_ALL, nullptr);
    ASSERT_NE(setlocale(LC_ALL, Czech), nullptr);
    const TLocaleFormat c = TLocaleFormat::FromName("C", "C");
    const std::string formatted = c.FormatFloat(0.875);
    double value = 0;
    const bool parsed = c.TryParseFloat("45000.875", value);
    double comma = 0;
    const bool commaParsed = c.TryParseFloat("45000,875", comma);
    setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(formatted, "0.875");
    EXPECT_TRUE(parsed);
    EXPECT_TRUE(commaParsed);
    EXPECT_DOUBLE_EQ(value, 45000.875);
    EXPECT_DOUBLE_EQ(comma, 45000.875);
}

class LocaleEnvironment : public testing::Test {
protected:
    static constexpr std::array<const char*, 4> Names = {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG"};
    void SetUp() override {
        for (std::size_t i = 0; i < Names.size(); ++i) {
            if (const char* v = std::getenv(Names[i])) {
                FSaved[i] = v;
            }
            unsetenv(Names[i]);
        }
    }
    void TearDown() override {
        for (std::size_t i = 0; i < Names.size(); ++i) {
            if (FSaved[i]) {
                setenv(Names[i], FSaved[i]->c_str(), 1);
            } else {
                unsetenv(Names[i]);
            }
        }
    }

private:
    std::array<std::optional<std::string>, 4> FSaved;
};

TEST_F(LocaleEnvironment, PrecedenceOfVariables) {
    REQUIRE_CZECH_LOCALE();
    EXPECT_EQ(TLocaleFormat::FromEnvironment().DecimalSeparator(), '.');

    setenv("LANG", Czech, 1);
    TLocaleFormat format = TLocaleFormat::FromEnvironment();
    EXPECT_EQ(format.DecimalSeparator(), ',');
    EXPECT_EQ(format.LongMonthName(2), "únor");

    setenv("LC_NUMERIC", "C", 1);
    setenv("LC_TIME", "", 1);  // empty counts as not set
    format = TLocaleFormat::FromEnvironment();
    EXPECT_EQ(format.DecimalSeparator(), '.');
    EXPECT_EQ(format.LongMonthName(2), "únor");

    setenv("LC_ALL", "C", 1);
    format = TLocaleFormat::FromEnvironment();
    EXPECT_EQ(format.LongMonthName(2), "February");

    setenv("LC_ALL", Czech, 1);
    EXPECT_EQ(TLocaleFormat::FromEnvironment().DecimalSeparator(), ',');
}

}  // namespace
}  // namespace sejfko
