// The office's texts of stored values. Every expected text below was read from LibreOffice 7.4
// through the automation (getFormulaArray, getString) on a workbook holding the value.
#include "documents/cell_forms.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ferretta::documents {
namespace {

TEST(CellForms, NumberCellsAsTheOfficeWritesThem) {
    const std::pair<double, std::optional<std::string>> cases[] = {
        {42, "42"},
        {-0.0, "0"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3, "0.333333333333333"},
        {1e15, "1000000000000000"},  // integers up to 2^53 in full
        {123456789012345678.0, "1.23456789012346E+017"},
        {0.00001, "0.00001"},
        {1.5e20, "1.5E+020"},
        {2.0145452100896245e-15, "2.01454521008963E-015"},
        {3.417272338060695e-09, "0.00000000341727233806"},  // at most 20 places
        {45306.520833333336, "45306.5208333333"},
        // Rounded to 16 digits first: an integer then, and ties that go up.
        {-1509616217149720.8, "-1509616217149721"},
        {40825.444444444445, "40825.4444444445"},
        {54452976302.82795, "54452976302.828"},
        {5e-324, std::nullopt},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(numberCellText(value), expected) << value;
}

TEST(CellForms, NumbersInFormulasAsTheOfficeWritesThem) {
    const std::pair<double, std::optional<std::string>> cases[] = {
        {1.5, "1.5"},
        {1e15, "1000000000000000"},
        {1480454705791247.5, "1.48045470579125E+015"},
        {123456789012345678.0, "1.23456789012346E+017"},
        {1e-10, "0.0000000001"},
        {1.5e-15, "1.5E-015"},
        {-37465.867760617846, "-37465.8677606178"},  // the shortest digits, rounded once
        {379.4661468630405, "379.466146863041"},
        {-739154407829.7145, "-739154407829.715"},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(numberInFormula(value), expected) << value;
}

TEST(CellForms, GeneralShownOnlyWhereMeasured) {
    EXPECT_EQ(generalShown(423.1666666666667), "423.166666666667");
    EXPECT_EQ(generalShown(1e15), "1000000000000000");
    EXPECT_EQ(generalShown(-4.812919713439847e-05),
              std::nullopt);  // shown as -4.81291971343985E-05
    EXPECT_EQ(generalShown(1480454705791247.5), std::nullopt);
}

// What the office's English input scanner took for a number (true) or for text (false). The
// reader may be unsure of one, never of the opposite opinion; the common texts of Japanese
// workbooks (plain numbers, codes, telephone numbers, postal codes, kanji) it must decide.
TEST(CellForms, TextsTakenForNumbers) {
    const std::pair<const char*, bool> measured[] = {
        {"123", true},         {" 42 ", true},       {"\u00a05", true},  {"5-", true},
        {"(5)", true},         {"1,234.5", true},    {"1,23", false},    {"12,34,567", false},
        {"1.E5", true},        {"1e5%", false},      {"50 %", true},     {"($1)", true},
        {"$$1", false},        {"TRUE", true},       {"true ", true},    {"TRUE1", false},
        {"yes", false},        {"1/15", true},       {"13/1", false},    {"1/1/0", true},
        {"2024/1/15", false},  {"2024-01-15", true}, {"99-1-1", true},   {"1-2-3", false},
        {"2023-02-30", false}, {"2024-02-29", true}, {"12:30", true},    {"1:60", false},
        {"0:60", true},        {"23:59:60", true},   {"1:2:61", false},  {"1:00:00:00", false},
        {"5 AM", true},        {"5 A", false},       {"Jan 5", true},    {"1 Jan", false},
        {"1 2", false},        {"1.2.3", false},     {"0x1F", false},    {"A1", false},
        {"5\t", false},        {"-(1)", false},      {"1e1,000", false}, {"12:", true},
    };
    for (const auto& [text, number] : measured) {
        const NumberLikeness likeness = numberLikeness(text);
        EXPECT_NE(likeness, number ? NumberLikeness::Text : NumberLikeness::Number) << text;
    }
    const std::pair<const char*, bool> decided[] = {
        {"00123", true},       {"-5", true},         {"1,234", true},
        {"12%", true},         {"1/2", true},        {"03-1234-5678", false},
        {"123-4567", false},   {"ABC-123", false},   {"１２３", false},
        {"¥100", false},       {"第3四半期", false}, {"Ver.1.2", false},
        {"No.5", false},       {"1-2", false},       {"2024年4月1日", false},
        {"〒100-0001", false},
    };
    for (const auto& [text, number] : decided) {
        EXPECT_EQ(numberLikeness(text), number ? NumberLikeness::Number : NumberLikeness::Text)
            << text;
    }
}

TEST(CellForms, TextCellsInFormulaForm) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"123", "'123"},
        {"'quoted", "''quoted"},
        {"=not a formula", "=not a formula"},
        {"日本語ﾃｷｽﾄ", "日本語ﾃｷｽﾄ"},
        {"2/29", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        std::string form;
        EXPECT_EQ(textCellText(text, form) ? std::optional(form) : std::nullopt, expected) << text;
    }
}

// Stored decimal texts: plain ones as they are, others through the number's own form.
TEST(CellForms, StoredNumbers) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"42", "42"},
        {"-7", "-7"},
        {"1234.5", "1234.5"},
        {"0.000123", "0.000123"},
        {"-0", "0"},
        {"1.50", "1.5"},
        {"007", "7"},
        {"+5", "5"},
        {"1.0E3", "1000"},
        {"0.30000000000000004", "0.3"},
        {"123456789012345678", "1.23456789012346E+017"},
        {"0.000000000000001", "1E-015"},
        {" 5", std::nullopt},
        {"0x10", std::nullopt},
        {"inf", std::nullopt},
        {"1e400", std::nullopt},
    };
    for (const auto& [stored, expected] : cases)
        EXPECT_EQ(storedNumberText(stored), expected) << stored;
}

}  // namespace
}  // namespace ferretta::documents
