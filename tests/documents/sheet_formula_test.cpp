// Formulas in the office's API grammar. The expected texts were read from LibreOffice 7.4
// (getFormulaArray) on workbooks holding the stored formulas.
#include "documents/sheet_formula.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferretta::documents {
namespace {

const std::vector<std::string> kSheets = {"値", "Sheet2", "別 シート", "x'y", "2024", "データ(1)"};
const std::vector<DefinedName> kDefined = {
    {"Rate", -1}, {"税率", -1}, {"Local1", 0}, {"Local2", 1}};
const ExcelNames kNames{kSheets, kDefined, 0};

std::string excel(std::string_view formula, std::int32_t rows = 0, std::int32_t columns = 0) {
    std::string why;
    const auto parsed = SheetFormula::fromExcel(formula, kNames, why);
    if (!parsed)
        return "fails: " + why;
    const auto text = parsed->text(rows, columns, why);
    return text ? *text : "fails: " + why;
}

std::string odf(std::string_view formula) {
    std::string why;
    const auto parsed = SheetFormula::fromOdf(formula, why);
    const auto text = parsed ? parsed->text(0, 0, why) : std::nullopt;
    return text ? *text : "fails: " + why;
}

TEST(SheetFormula, ExcelFormulasInTheOfficeGrammar) {
    const std::pair<const char*, const char*> cases[] = {
        {R"(IF(B1>10,"大","小"))", R"(=IF(B1>10;"大";"小"))"},
        {"sum(a1:a2)", "=SUM(A1:A2)"},
        {"TRUE", "=TRUE()"},
        {"SUM(TRUE,1)", "=SUM(TRUE();1)"},
        {"Sheet2!A1+1", "=$Sheet2.A1+1"},
        {"sheet2!A1", "=$Sheet2.A1"},  // the sheet's own spelling
        {"'別 シート'!A1:B2", "=$'別 シート'.A1:B2"},
        {"'x''y'!$A$1", "=$'x''y'.$A$1"},
        {"'2024'!A:A", "=$'2024'.A:A"},
        {"'データ(1)'!1:1", "=$'データ(1)'.1:1"},
        {"値!A1", "=$値.A1"},
        {"SUM( B1 , B2 )", "=SUM( B1 ; B2 )"},
        {"  SUM(A1)  ", "=SUM(A1)"},
        {"SUM(\n1)", "=SUM(\n1)"},
        {"1.50+.5+1E3+1e-7", "=1.5+0.5+1000+0.0000001"},
        {"123456789012345678", "=1.23456789012346E+017"},
        {"50%", "=50%"},
        {"{1,2;3,4}", "={1;2|3;4}"},
        {"#N/A", "=#N/A"},
        {"SUM(A1,B1,)", "=SUM(A1;B1;)"},
        {"CEILING(A1,1)", "=CEILING.XCL(A1;1)"},
        {"EDATE(A1,1)", "=COM.SUN.STAR.SHEET.ADDIN.ANALYSIS.GETEDATE(A1;1)"},
        {"_xlfn.CONCAT(A1)", "=CONCAT(A1)"},
        {"$B$1+B$2+$B3", "=$B$1+B$2+$B3"},
        {"rate+税率", "=Rate+税率"},  // defined names as they are defined
        {"Local1+Sheet2!Local2", "=Local1+Sheet2.Local2"},
    };
    for (const auto& [formula, expected] : cases)
        EXPECT_EQ(excel(formula), expected) << formula;
}

TEST(SheetFormula, OpenFormulaInTheOfficeGrammar) {
    const std::pair<const char*, const char*> cases[] = {
        {"of:=SUM([.A1];[.A3:.B3])", "=SUM(A1;A3:B3)"},
        {"of:=[$'他 の'.A1]&[$他.A1]", "=$'他 の'.A1&$他.A1"},
        {"of:=SUM([$Sheet2.A1:$Sheet3.A1])", "=SUM($Sheet2.A1:$Sheet3.A1)"},
        {"of:=SUM([.$A:.$B])", "=SUM($A:$B)"},
        {"of:=[.A1:.B2]![.B1:.B3]", "=A1:B2!B1:B3"},
        {"of:=EDATE([.A1];1)+COM.MICROSOFT.CEILING([.A1];1)",
         "=COM.SUN.STAR.SHEET.ADDIN.ANALYSIS.GETEDATE(A1;1)+CEILING.XCL(A1;1)"},
        {"of:=xor([.A1])", "=XOR(A1)"},
        {"=1+1", "=1+1"},
        {"of:={1;2|3;4}", "={1;2|3;4}"},
        {"of:=1E+020", "=1E+020"},
    };
    for (const auto& [formula, expected] : cases)
        EXPECT_EQ(odf(formula), expected) << formula;
}

// What the office writes differently (or resolves against things the reader does not read)
// must fail rather than come out wrong.
TEST(SheetFormula, UnmeasuredConstructsFail) {
    for (const char* formula :
         {"MyName+1", "Local2", "XOR(A1)", "WEEKNUM(A1)", "A1:B2 B1:B3", "(A1,B1)",
          "Sheet2:Sheet3!A1", "[1]Sheet1!A1", "Table1[Col]", "Nowhere!A1", "AMK1", "A1048577",
          "@A1", "A1#", "SUM (A1)", "\"_x000D_\"", "=1", ""}) {
        EXPECT_EQ(excel(formula).substr(0, 6), "fails:") << formula;
    }
    for (const char* formula : {"oooc:=SUM([.A1])", "of:=myname", "of:=[Sheet2.A1]"})
        EXPECT_EQ(odf(formula).substr(0, 6), "fails:") << formula;
}

TEST(SheetFormula, SharedFormulasMoveTheirRelativeReferences) {
    EXPECT_EQ(excel("A1*2+$A$1+A$1+$A1+Sheet2!A1+SUM(A1:A2)", 2, 1),
              "=B3*2+$A$1+B$1+$A3+$Sheet2.B3+SUM(B3:B4)");
    EXPECT_EQ(excel("SUM(B:B)+SUM(1:2)", 3, 2), "=SUM(D:D)+SUM(4:5)");
    EXPECT_EQ(excel("A1", -1, 0).substr(0, 6), "fails:");
}

TEST(SheetFormula, SheetNamesQuotedAsTheOfficeQuotes) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"Sheet2", "Sheet2"},     {"1st", "1st"},   {"2024", "'2024'"},  {"シート 1", "'シート 1'"},
        {"別シート", "別シート"}, {"ｶﾀｶﾅ", "ｶﾀｶﾅ"}, {"・", "'・'"},      {"　x", "　x"},
        {"x'y", "'x''y'"},        {"a-b", "'a-b'"}, {"😀", std::nullopt}, {"1e5", std::nullopt},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(quotedSheetName(name), expected) << name;
}

}  // namespace
}  // namespace ferretta::documents
