#include "searchers/office/office_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run/search_run.h"
#include "support/fake_native_reader.h"
#include "support/fake_office.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::searchers::office {
namespace {

namespace fs = std::filesystem;
using app::FileType;
using test::FakeOffice;
using test::FakeShape;
using test::FakeSheet;
using test::FakeWordFile;

const std::string kWordMessage =
    "Wordに関する操作が行えませんでした。\r設定でWordファイルを検索しない設定に変更して下さい";
const std::string kExcelMessage =
    "Excelに関する操作が行えませんでした。\r設定でExcelファイルを検索しない設定に変更して下さい";
const std::string kPowerPointMessage =
    "PowerPointに関する操作が行えませんでした。\r"
    "設定でPowerPointファイルを検索しない設定に変更して下さい";

app::Settings settingsFor(bool word, bool excel, bool powerPoint) {
    app::Settings settings;
    settings.fileTypes.setTarget(FileType::Word, word);
    settings.fileTypes.setTarget(FileType::Excel, excel);
    settings.fileTypes.setTarget(FileType::PowerPoint, powerPoint);
    return settings;
}

std::vector<std::string> texts(const std::vector<test::RecordingHost::Message>& messages) {
    std::vector<std::string> out;
    for (const auto& message : messages) {
        EXPECT_EQ(message.style, app::MessageStyle::Critical);
        out.push_back(message.text);
    }
    return out;
}

// The search command with the Office types on: every Office extension reaches its searcher,
// with the type's number on its hits.
class OfficeWalkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings = settingsFor(true, true, true);
        settings.dir = m_root.string();
        settings.subFolder = false;
        native.install(session);
    }

    std::string file(const std::string& name) {
        std::ofstream(m_root / name) << "";
        return (m_root / name).string();
    }

    std::int64_t run(const std::string& query) {
        run::SearchRunHooks hooks;
        hooks.officeSession = [this]() -> OfficeSession& { return session; };
        return run::runSearchCommand(host, settings, flags, query, hooks).files;
    }

    std::vector<std::string> hits() const {
        std::vector<std::string> out;
        for (const auto& row : host.rows)
            out.push_back(std::to_string(static_cast<int>(row.fileType)) + "|" + row.name);
        return out;
    }

    test::TempTree m_tree;
    fs::path m_root = m_tree.root();
    FakeOffice office;
    OfficeSession session{office};
    test::FakeNativeReader native;
    test::RecordingHost host;
    app::Settings settings;
    search::SearchFlags flags;
};

TEST_F(OfficeWalkTest, EveryOfficeExtensionReachesItsSearcher) {
    for (const char* name : {"a.doc", "d.odt"})
        office.wordFiles[file(name)] = FakeWordFile{{"foo"}, {}, {}};
    for (const char* name : {"e.xlsx", "h.ods"})
        office.excelFiles[file(name)] = {FakeSheet{"S", {{"foo"}}}};
    for (const char* name : {"i.pptx", "k.odp"})
        office.powerPointFiles[file(name)] = {{FakeShape::textBox("foo")}};
    file("l.DOCX.bak");  // not a document
    EXPECT_EQ(run("foo"), 6);
    const std::vector<std::string> expected = {"2|a.doc",    "2|d.odt",   "3|e.xlsx[S]",
                                               "3|h.ods[S]", "16|i.pptx", "16|k.odp"};
    EXPECT_EQ(hits(), expected);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(OfficeWalkTest, WordFastIsReadWhenEachFileComes) {
    office.wordFiles[file("a.docx")] = FakeWordFile{{"foo"}, {"foo in a box"}, {}};
    settings.wordFast = true;
    run("foo");
    EXPECT_EQ(host.rows.size(), 1u);  // the text box is not read in fast mode
    EXPECT_FALSE(office.callsStartingWith("Word.Selection.Text").empty());
}

TEST_F(OfficeWalkTest, OfficeTypesSwitchedOffAreNotSearchedButNamesStillHit) {
    settings = settingsFor(false, false, false);
    settings.fileTypes.setTarget(FileType::Text, false);
    settings.fileTypes.setTarget(FileType::Access, true);  // something to walk for
    settings.dir = m_root.string();
    office.wordFiles[file("foo.docx")] = FakeWordFile{{"foo"}, {}, {}};
    office.powerPointFiles[file("foo.odp")] = {{FakeShape::textBox("foo")}};
    EXPECT_EQ(run("foo"), 0);
    EXPECT_EQ(hits(), (std::vector<std::string>{"2|foo.docx", "16|foo.odp"}));
    EXPECT_TRUE(office.calls.empty());
}

TEST_F(OfficeWalkTest, BrokenPresentationIsOneFailedFileAndTheWalkGoesOn) {
    const std::string broken = file("a.ppt");  // not known to the office: it cannot be opened
    office.powerPointFiles[file("b.ppt")] = {{FakeShape::textBox("foo")}};
    run("foo");
    EXPECT_FALSE(flags.isAbort);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              "検索中にエラーが発生しました Position=0  ErrNo=-2147467259\rファイル名=" + broken);
    EXPECT_EQ(host.messages[0].style, app::MessageStyle::Exclamation);
    EXPECT_EQ(hits(), std::vector<std::string>{"16|b.ppt"});
    EXPECT_TRUE(office.called("PowerPoint.Quit"));
}

// Open XML and OpenDocument files go to the native reader first; the office reads only what it
// leaves, starting at the first such document, and nothing of what the reader gave stays.
TEST_F(OfficeWalkTest, NativeReaderFirstTheOfficeOnlyForWhatItLeaves) {
    using documents::ReadStatus;
    const auto cell = [](std::int32_t row, std::string text, std::string shown = "") {
        return cache::Unit{1, row, 1, std::move(text), std::move(shown)};
    };
    struct Case {
        const char* name;
        test::FakeNativeDocument native;
        bool nativeOn;
        std::string hit;
    } cases[] = {
        // clang-format off
        {"read natively", {{"S"}, {cell(2, "foo native")}}, true, "foo native"},
        {"given up after units", {{"S"}, {cell(2, "foo native")}, ReadStatus::ForOffice}, true,
         "foo office"},
        {"value of the cell found unknown", {{"S"}, {cell(2, "=\"foo\"", "?")}}, true,
         "foo office"},
        {"value of a cell not found unknown", {{"S"}, {cell(2, "=B9", "?"), cell(3, "foo n")}},
         true, "foo n"},
        {"native readers off", {{"S"}, {cell(2, "foo native")}}, false, "foo office"},
        // clang-format on
    };
    const std::string book = file("b.xlsx");
    office.excelFiles[book] = {FakeSheet{"S", {{"x"}, {"foo office"}}}};
    settings.workers = 1;  // each document read once
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        native.documents[book] = c.native;
        settings.officeNative = c.nativeOn;
        host = {};
        office.calls.clear();
        const std::size_t asked = native.asked().size();
        EXPECT_EQ(run("foo"), 1);
        ASSERT_EQ(host.rows.size(), 1u);
        EXPECT_EQ(host.rows[0].content, c.hit);
        const bool byOffice = c.hit == "foo office";
        EXPECT_EQ(office.called("createExcel Search"), byOffice);
        EXPECT_EQ(office.called("Excel.Quit"), byOffice);
        EXPECT_EQ(native.asked().size() - asked, c.nativeOn ? 1u : 0u);
    }
    // A folder the native readers read whole starts no office, nor does a search of names.
    settings.officeNative = true;
    native.documents[book] = cases[0].native;
    native.documents[file("a.docx")] = {{}, {{1, 0, 0, "foo\rbar", ""}}};
    native.documents[file("c.pptx")] = {{}, {{2, 0, 0, "foo", ""}}, ReadStatus::Complete, 3};
    for (const bool namesOnly : {false, true}) {
        settings.fileNameOnly = namesOnly;
        office.calls.clear();
        host = {};
        EXPECT_EQ(run("foo"), 3);
        EXPECT_TRUE(office.calls.empty());
    }
    settings.fileNameOnly = false;
    run("foo");
    EXPECT_EQ(hits(), (std::vector<std::string>{"2|a.docx", "3|b.xlsx[S]", "16|c.pptx"}));
}

// Without an office the documents the native readers read are still searched; each type that
// needs the office is told once, its documents are skipped and the search goes on.
TEST_F(OfficeWalkTest, WithoutAnOfficeEachTypeIsToldOnceAndTheSearchGoesOn) {
    for (const char* call : {"createWord Search", "createExcel Search", "createPowerPoint Search"})
        office.failures[call] = 429;
    for (const char* name : {"a.doc", "b.doc", "d.xls", "e.xls", "f.ppt"})
        file(name);
    native.documents[file("c.docx")] = {{}, {{1, 0, 0, "foo", ""}}};
    EXPECT_EQ(run("foo"), 1);
    EXPECT_EQ(hits(), std::vector<std::string>{"2|c.docx"});
    EXPECT_EQ(texts(host.messages),
              (std::vector<std::string>{kWordMessage, kExcelMessage, kPowerPointMessage}));
    EXPECT_FALSE(flags.isAbort);
}

// A stop while an office starts (the start then gives up) is a stop: no advice to switch the
// type off, no failure to end an office.
TEST_F(OfficeWalkTest, AStopWhileAnOfficeStartsIsAStop) {
    file("a.doc");
    file("b.xls");
    office.failures["createWord Search"] = 429;
    office.onCall = [this](const std::string& text) {
        if (text == "createWord Search")
            search::requestStop(flags);
    };
    run("foo");
    EXPECT_EQ(texts(host.messages), std::vector<std::string>{});
    EXPECT_TRUE(host.statusTexts.back().find("ところで中止しました。") != std::string::npos)
        << host.statusTexts.back();
}

// Searched ahead on workers, the documents the native readers read give the hits a search on
// one thread gives; one that needs the office is searched again on the user-interface thread,
// which alone drives the office, and nothing of it is shown twice.
TEST_F(OfficeWalkTest, WorkersReadNativelyAndHandWhatNeedsTheOfficeOver) {
    native.documents[file("a.docx")] = {{}, {{1, 0, 0, "foo a", ""}}};
    const std::string handedOver = file("b.docx");
    native.documents[handedOver] = {{}, {}, documents::ReadStatus::ForOffice};
    office.wordFiles[handedOver] = FakeWordFile{{"foo b\r", "foo b2"}, {}, {}};
    native.documents[file("c.xlsx")] = {{"S"}, {{1, 1, 2, "foo c", ""}}};
    office.wordFiles[file("d.doc")] = FakeWordFile{{"foo d"}, {}, {}};
    native.documents[file("e.pptx")] = {{}, {{1, 0, 0, "foo e", ""}}, {}, 1};
    std::vector<std::vector<std::string>> rowsByWorkers;
    for (const int workers : {1, 3}) {
        settings.workers = workers;
        host = {};
        office.calls.clear();
        EXPECT_EQ(run("foo"), 5);
        rowsByWorkers.push_back(test::hitRows(host));
        EXPECT_EQ(office.callsStartingWith("Word.Open"),
                  (std::vector<std::string>{"Word.Open " + handedOver + " ro=1 win=1",
                                            "Word.Open " + file("d.doc") + " ro=1 win=1"}));
        EXPECT_TRUE(host.messages.empty());
    }
    EXPECT_EQ(rowsByWorkers[0].size(), 6u);
    EXPECT_EQ(rowsByWorkers[1], rowsByWorkers[0]);
    // With workers only the document handed over is read natively on this thread (again):
    // four documents of the first search, one of the second.
    const auto onMain = native.askedOnMainThread();
    EXPECT_EQ(std::count(onMain.begin(), onMain.end(), handedOver), 2);
    EXPECT_EQ(onMain.size(), 4u + 1u);
}

}  // namespace
}  // namespace ferretta::searchers::office
