#include "ui/main/results_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <QAbstractItemModelTester>
#include <QGuiApplication>
#include <QImage>
#include <QPersistentModelIndex>
#include <QPixmap>

namespace ferretta::ui::main {
namespace {

using app::Hit;

std::vector<std::string> warnings;

void recordWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtDebugMsg && type != QtInfoMsg)
        warnings.push_back(message.toStdString());
}

// Every test runs with the model checker attached and fails on any complaint it logs.
class ResultsModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        warnings.clear();
        m_previousHandler = qInstallMessageHandler(recordWarnings);
    }
    void TearDown() override {
        m_tester.reset();
        qInstallMessageHandler(m_previousHandler);
        EXPECT_TRUE(warnings.empty()) << warnings.front();
    }

    std::size_t add(std::string name, std::string content = "c", std::string location = "/p",
                    std::string position = "1,1", int type = 1) {
        return model.addResult(Hit{static_cast<app::FileType>(type), std::move(name),
                                   std::move(content), std::move(location), std::move(position)});
    }
    std::vector<std::string> column(int col) const {
        std::vector<std::string> texts;
        for (int row = 0; row < model.rowCount(); ++row)
            texts.push_back(model.data(model.index(row, col)).toString().toStdString());
        return texts;
    }

    ResultsModel model;

  private:
    std::unique_ptr<QAbstractItemModelTester> m_tester = std::make_unique<QAbstractItemModelTester>(
        &model, QAbstractItemModelTester::FailureReportingMode::Warning);
    QtMessageHandler m_previousHandler = nullptr;
};

// (The headers' captions are the Japanese-font test's.)
TEST_F(ResultsModelTest, RowsShowTheHitInColumnOrder) {
    add("a.txt", "本文", "/d/a.txt", "12,5");
    const char* cells[] = {"a.txt", "本文", "/d/a.txt", "12,5"};
    ASSERT_EQ(model.columnCount(), 4);
    for (int col = 0; col < 4; ++col) {
        EXPECT_EQ(column(col), std::vector<std::string>{cells[col]});
    }
    EXPECT_FALSE(model.data(model.index(0, 1), Qt::ForegroundRole).isValid());
    // Outside the list: the empty hit of type 0, which opens nothing.
    for (int row : {-1, 1, 1000})
        EXPECT_EQ(model.hitAt(row).fileType, app::FileType::Unknown);
}

// Rows: name / content. Names and contents are in opposite orders so that each sort is visible.
TEST_F(ResultsModelTest, HeaderClicksFollowTheListViewRule) {
    struct Case {
        std::vector<int> clicks;
        int column;
        Qt::SortOrder order;
        std::vector<std::string> names;  // column 0 after the clicks
        bool sortingOn = true;
    };
    const Case cases[] = {
        {{}, 0, Qt::AscendingOrder, {"b", "c", "a"}, false},
        {{0}, 0, Qt::DescendingOrder, {"c", "b", "a"}},  // column 0 starts descending
        {{0, 0}, 0, Qt::AscendingOrder, {"a", "b", "c"}},
        {{1}, 1, Qt::AscendingOrder, {"c", "b", "a"}},
        {{1, 1}, 1, Qt::DescendingOrder, {"a", "b", "c"}},
        {{1, 1, 0}, 0, Qt::AscendingOrder, {"a", "b", "c"}},  // another column ascends
        {{1, 1, 2, 1}, 1, Qt::AscendingOrder, {"c", "b", "a"}},
        {{-1, 4, 99}, 0, Qt::AscendingOrder, {"b", "c", "a"}, false},  // out of range
    };
    for (const Case& c : cases) {
        ResultsModel clicked;
        for (const char* row : {"b2", "c1", "a3"})
            clicked.addResult(Hit{app::FileType::Text, {row[0]}, {row[1]}, "/p", "1,1"});
        for (int click : c.clicks)
            clicked.columnClicked(click);
        SCOPED_TRACE(::testing::PrintToString(c.clicks));
        EXPECT_EQ(clicked.sortingOn(), c.sortingOn);
        EXPECT_EQ(clicked.sortColumn(), c.column);
        EXPECT_EQ(clicked.sortOrder(), c.order);
        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(clicked.hitAt(row).name, c.names[static_cast<std::size_t>(row)]);
    }
}

TEST_F(ResultsModelTest, TextOrderIgnoresCaseAndComparesAsText) {
    // Column 3 holds positions: compared as text, so 10 sorts before 9.
    const std::vector<std::string> names = {"b",  "A",  "a",  "C", "ｂ", "Ａ",
                                            "あ", "ア", "10", "9", ""};
    for (const std::string& name : names)
        add(name, "", "", name);
    model.columnClicked(1);  // any other column first, so that column 0 then sorts ascending
    model.columnClicked(0);
    // "A" and "a" are equal texts and keep their arrival order.
    const std::vector<std::string> expected = {"",  "10", "9",  "A",  "a", "b",
                                               "C", "あ", "ア", "Ａ", "ｂ"};
    EXPECT_EQ(column(0), expected);
    model.columnClicked(0);
    // Descending keeps equal texts in their earlier order too.
    const std::vector<std::string> descending = {"ｂ", "Ａ", "ア", "あ", "C", "b",
                                                 "A",  "a",  "9",  "10", ""};
    EXPECT_EQ(column(0), descending);
}

TEST_F(ResultsModelTest, BrokenUtf8SortsAfterTextAndDoesNotCrash) {
    const std::vector<std::string> names = {
        "\xff", "z", "\xe3\x81", "\xc3\xa9", "\xf4\x90\x80\x80", "\xed\xa0\x80", "a\x80"};
    for (const std::string& name : names)
        add(name);
    model.columnClicked(1);
    model.columnClicked(0);
    std::vector<std::string> sorted;
    for (const Hit& hit : model.rowsInOrder())
        sorted.push_back(hit.name);
    EXPECT_EQ(sorted.front(), "a\x80");
    EXPECT_EQ(sorted[1], "z");
    EXPECT_EQ(sorted[2], "\xc3\xa9");  // é after z: code point order
    EXPECT_EQ(sorted.size(), names.size());
}

// A new search empties the list but keeps it sorted. (Rows arriving in their sorted place, equal
// ones in arrival order, are the property test's at the end.)
TEST_F(ResultsModelTest, ANewSearchKeepsTheListSorted) {
    model.columnClicked(0);  // descending, on an empty list
    add("x");
    model.clear();
    EXPECT_TRUE(model.sortingOn());
    add("x");
    add("y");
    EXPECT_EQ(column(0), (std::vector<std::string>{"y", "x"}));
}

TEST_F(ResultsModelTest, ContentColourFollowsItsRow) {
    add("m");
    const std::size_t blue = add("z", "(ファイル名にヒット)", "/z", "");
    add("a");
    model.setContentColor(blue, QColor(0, 0, 255));
    EXPECT_EQ(model.data(model.index(1, 1), Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
    EXPECT_FALSE(model.data(model.index(1, 0), Qt::ForegroundRole).isValid());
    model.columnClicked(1);
    model.columnClicked(0);
    EXPECT_EQ(model.hitAt(2).name, "z");
    EXPECT_EQ(model.data(model.index(2, 1), Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
    EXPECT_FALSE(model.data(model.index(0, 1), Qt::ForegroundRole).isValid());
    // Colouring a row that went to its sorted place, then taking the colour away.
    const std::size_t inserted = add("b");
    model.setContentColor(inserted, QColor(255, 0, 0));
    EXPECT_EQ(model.data(model.index(1, 1), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    model.setContentColor(blue, QColor());
    EXPECT_FALSE(model.data(model.index(3, 1), Qt::ForegroundRole).isValid());
}

TEST_F(ResultsModelTest, HandlesFromBeforeAClearColourNothing) {
    const std::size_t old = add("old");
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    const std::size_t fresh = add("new");
    EXPECT_NE(old, fresh);
    for (std::size_t handle : {old, fresh + 1, ResultsModel::noHandle})
        model.setContentColor(handle, QColor(0, 0, 255));
    EXPECT_FALSE(model.data(model.index(0, 1), Qt::ForegroundRole).isValid());
    model.setContentColor(fresh, QColor(0, 0, 255));
    EXPECT_TRUE(model.data(model.index(0, 1), Qt::ForegroundRole).isValid());
}

TEST_F(ResultsModelTest, SortingKeepsPersistentIndexesOnTheirRows) {
    add("b");
    add("a");
    add("c");
    const QPersistentModelIndex held(model.index(0, 2));
    model.columnClicked(1);
    model.columnClicked(0);
    ASSERT_TRUE(held.isValid());
    EXPECT_EQ(held.row(), 1);
    EXPECT_EQ(held.column(), 2);
    EXPECT_EQ(model.hitAt(held.row()).name, "b");
}

TEST_F(ResultsModelTest, HugeCellsAreCutForDisplayOnly) {
    // 3-byte characters, so that the cut falls inside one and must back off to its start.
    std::string huge;
    for (int i = 0; i < 3000; ++i)
        huge += "あ";
    add("n", huge);
    const QString shown = model.data(model.index(0, 1)).toString();
    EXPECT_LT(shown.size(), 1400);
    EXPECT_EQ(shown.back(), QChar(0x2026));
    EXPECT_EQ(shown.count(QChar(0xfffd)), 0);
    EXPECT_EQ(model.hitAt(0).content, huge);
}

TEST_F(ResultsModelTest, EveryFileTypeHasAnIcon) {
    std::vector<QImage> images;
    for (int type = -1; type <= 21; ++type) {
        add("f", "c", "/p", "", type);
        const auto icon =
            model.data(model.index(model.rowCount() - 1, 0), Qt::DecorationRole).value<QIcon>();
        ASSERT_FALSE(icon.isNull()) << type;
        const QImage image = icon.pixmap(16, 16).toImage();
        ASSERT_EQ(image.size(), QSize(16, 16)) << type;
        images.push_back(image.convertToFormat(QImage::Format_ARGB32));
    }
    const auto imageOf = [&](int type) { return images[static_cast<std::size_t>(type + 1)]; };
    const int unknown = 0;
    // Text, Word, Excel, the five Outlook types, PDF, PowerPoint.
    const int distinct[] = {unknown, 1, 2, 3, 4, 5, 6, 7, 8, 13, 16};
    for (int a : distinct) {
        for (int b : distinct) {
            if (a != b) {
                EXPECT_NE(imageOf(a), imageOf(b)) << a << " " << b;
            }
        }
    }
    // Numbers without a type of their own, and numbers outside the table, show the plain page.
    for (int type : {-1, 9, 12, 20, 21})
        EXPECT_EQ(imageOf(type), imageOf(unknown)) << type;
}

TEST(ResultsModelSorting, RowsInsertedSortedMatchASortAfterwards) {
    // The same pseudo-random rows, once sorted as they arrive and once sorted at the end. (No
    // model checker here: it re-reads the whole model on every insertion.)
    ResultsModel early;
    ResultsModel late;
    early.columnClicked(1);
    early.columnClicked(1);
    // Pieces that fold to each other, sort past each other or are not text at all.
    const std::string pieces[] = {"A",    "a",    "Ａ", "ａ", "あ", "ア",
                                  "\xff", "\xe3", "9",  "10", "é",  std::string(1, '\0'),
                                  "É"};
    unsigned seed = 12345;
    for (int i = 0; i < 5000; ++i) {
        std::string content;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1103515245u + 12345u;
            content += pieces[(seed >> 8) % std::size(pieces)];
        }
        const Hit hit{app::FileType::Text, std::to_string(i), content, "/p", ""};
        early.addResult(hit);
        late.addResult(hit);
    }
    late.columnClicked(1);
    late.columnClicked(1);
    ASSERT_EQ(early.rowCount(), 5000);
    for (int row = 0; row < early.rowCount(); ++row)
        ASSERT_EQ(early.hitAt(row).name, late.hitAt(row).name) << row;
}

}  // namespace
}  // namespace ferretta::ui::main

int main(int argc, char** argv) {
    // The tests need pixmaps but never a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
