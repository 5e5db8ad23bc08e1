#include "pipeline/unit_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::pipeline {
namespace {

documents::UnitView unit(std::int32_t place, std::string_view text, bool known = true) {
    return {place, 0, 0, text, {}, known};
}

Extraction ending(Outcome outcome, bool keep = true) {
    Extraction extraction;
    extraction.outcome = outcome;
    extraction.keep = keep;
    return extraction;
}

// Hands out its units (each place announced first), then ends as told.
struct ScriptedExtractor final : Extractor {
    std::vector<documents::UnitView> units;
    Extraction end;
    int calls = 0;

    Extraction extract(const std::string&, UnitSink& sink) override {
        ++calls;
        for (const auto& unit : units) {
            if (!sink.place(unit.place) || !sink.unit(unit))
                return ending(Outcome::Stopped);
        }
        return end;
    }
};

// Records what it is fed: "place 1", "unit 1 text", "restart", "finish 0" (the outcome).
struct RecordingMatcher final : UnitMatcher {
    std::vector<std::string> fed;
    bool refuse = false;  // the units cannot answer: the next extractor reads the document

    void begin(const std::string&) override { fed.clear(); }
    bool place(std::int32_t place) override {
        fed.push_back("place " + std::to_string(place));
        return true;
    }
    bool unit(const documents::UnitView& unit) override {
        fed.push_back("unit " + std::to_string(unit.place) + " " + std::string(unit.text));
        return unit.text != "stop";
    }
    void restart() override { fed.push_back("restart"); }
    bool unitsEnded() override { return !std::exchange(refuse, false); }
    bool finish(const Extraction& extraction) override {
        fed.push_back("finish " + std::to_string(static_cast<int>(extraction.outcome)));
        return extraction.outcome == Outcome::Complete;
    }
};

class UnitPipelineTest : public ::testing::Test {
  protected:
    // One search of the file for the word through the two extractors.
    bool search(const std::string& word = "needle") {
        cache::SearchCache searchCache(documents, cache::IndexQuery{{word}, false, false},
                                       std::nullopt);
        Extractor* const extractors[] = {&native, &office};
        const bool answer = searchFile(path, {&searchCache, "key"}, extractors, matcher, host);
        documents.flush();
        return answer;
    }

    test::TempTree tree;
    std::string path = tree.write("doc.docx", "x");
    cache::DocumentCache documents{{tree.path("cache"), cache::kDefaultSizeLimit, {}}};
    ScriptedExtractor native;
    ScriptedExtractor office;
    RecordingMatcher matcher;
    test::RecordingHost host;
};

// What a first search extracts, and whether a second one is answered from what was kept.
TEST_F(UnitPipelineTest, CompleteReadingsAreKeptAndReplayedOthersAreReadAgain) {
    const std::string big(kMostKeptBytes, 'x');
    struct Case {
        const char* name;
        std::vector<documents::UnitView> units;
        Extraction end;
        bool refuse;
        std::vector<std::string> fed;  // by the first search
        bool kept;
    };
    const std::vector<std::string> toOffice = {"place 1", "unit 1 native",        "restart",
                                               "place 1", "unit 1 needle office", "finish 0"};
    const Case cases[] = {
        // clang-format off
        {"complete", {unit(1, "a needle"), unit(3, "b")}, ending(Outcome::Complete), false,
         {"place 1", "unit 1 a needle", "place 3", "unit 3 b", "finish 0"}, true},
        {"partial", {unit(1, "needle")}, ending(Outcome::Partial), false,
         {"place 1", "unit 1 needle", "finish 1"}, true},
        {"left to the office", {unit(1, "native")}, ending(Outcome::ForOffice), false, toOffice,
         true},
        {"matcher refuses", {unit(1, "native")}, ending(Outcome::Complete), true, toOffice, true},
        {"stopped", {unit(1, "stop")}, ending(Outcome::Complete), false,
         {"place 1", "unit 1 stop", "finish 2"}, false},
        {"failed", {}, ending(Outcome::Failed), false, {"finish 4"}, false},
        {"not to keep", {unit(1, "needle")}, ending(Outcome::Complete, false), false,
         {"place 1", "unit 1 needle", "finish 0"}, false},
        {"value not known", {unit(1, "needle", false)}, ending(Outcome::Complete), false,
         {"place 1", "unit 1 needle", "finish 0"}, false},
        {"too large to keep", {unit(1, "needle"), unit(2, big)}, ending(Outcome::Complete), false,
         {"place 1", "unit 1 needle", "place 2", "unit 2 " + big, "finish 0"}, false},
        // clang-format on
    };
    office.units = {unit(1, "needle office")};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tree.write("doc.docx", c.name);  // a new identity: nothing kept for it yet
        native = {};
        native.units = c.units;
        native.end = c.end;
        office.calls = 0;
        matcher.refuse = c.refuse;
        const bool first = search();
        EXPECT_EQ(matcher.fed, c.fed);
        const std::vector<std::string> firstFed = matcher.fed;
        const int notes = host.fromCacheNotes;

        const bool second = search();
        EXPECT_EQ(native.calls, c.kept ? 1 : 2);
        EXPECT_EQ(host.fromCacheNotes - notes, c.kept ? 1 : 0);
        EXPECT_EQ(second, first);
        if (c.kept) {
            // The replay feeds what the reading that was kept fed, places included.
            std::vector<std::string> replayed = firstFed;
            if (const auto restart = std::find(replayed.begin(), replayed.end(), "restart");
                restart != replayed.end())
                replayed.erase(replayed.begin(), restart + 1);
            EXPECT_EQ(matcher.fed, replayed);
        }
    }
}

// A document kept without the words passes without a unit, answered by how its reading ended.
TEST_F(UnitPipelineTest, KeptDocumentWithoutTheWordsIsPassedOver) {
    native.units = {unit(1, "a needle")};
    native.end = ending(Outcome::Partial);
    EXPECT_FALSE(search());
    EXPECT_FALSE(search("haystack"));
    EXPECT_EQ(native.calls, 1);
    EXPECT_EQ(host.fromCacheNotes, 1);
    EXPECT_EQ(matcher.fed, std::vector<std::string>{"finish 1"});
}

}  // namespace
}  // namespace ferretta::pipeline
