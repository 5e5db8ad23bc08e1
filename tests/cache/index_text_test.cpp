// The index must never leave out a document in which the matcher finds the words: random
// documents and queries over characters that fold, that have no CP932 form, that share a code,
// and whose second byte is ASCII, checked against a real FTS5 table.
#include "cache/index_text.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "cache/sqlite_db.h"
#include "platform/office/cell_pattern.h"
#include "platform/unicode.h"
#include "platform/width_fold.h"
#include "search/query.h"

namespace ferretta::cache {
namespace {

const std::vector<std::string> kPieces = {
    "a",  "B",  "c", "x",  "Y",  "1",  " ",  "\"", "?",    "-",  "ＡＢ",
    "ｃ", "ア", "ｱ", "ガ", "ｶﾞ", "ソ", "表", "能", "日本", "語", "の",
    "〜", "～", "é", "😀",  "∵",  "髙", "ﾞ",  "\r", "\n",   "ｰ",
};

std::string randomText(std::mt19937& random, int pieces) {
    std::string text;
    for (int i = 0; i < pieces; ++i)
        text += kPieces[random() % kPieces.size()];
    return text;
}

// A word taken from a text (so that it hits) or made up.
std::string randomWord(std::mt19937& random, const std::string& text) {
    const std::u16string text16 = platform::utf8ToUtf16(text);
    if (random() % 3 != 0 && text16.size() > 3) {
        const std::size_t length = 3 + random() % 4;
        const std::size_t at = random() % (text16.size() - 3);
        std::string word = platform::utf16ToUtf8(text16.substr(at, length));
        if (word.find_first_of(" \r\n") == std::string::npos)
            return word;
    }
    std::string word;
    while (platform::utf8ToUtf16(word).size() < 3) {
        std::string piece = kPieces[random() % kPieces.size()];
        if (piece.find_first_of(" \r\n") == std::string::npos)
            word += piece;
    }
    return word;
}

class IndexTest : public ::testing::Test {
  protected:
    IndexTest() : m_db(":memory:", 0) {
        m_db.exec(
            "CREATE VIRTUAL TABLE folded USING fts5(text, round_trip, content='', detail=none, "
            "tokenize='trigram case_sensitive 1')");
    }
    void add(std::int64_t id, const Extract& extract) {
        const IndexForms forms = indexForms(extract);
        Statement(m_db.handle(), "INSERT INTO folded(rowid, text, round_trip) VALUES(?1, ?2, ?3)")
            .bind(1, id)
            .bind(2, forms.folded)
            .bind(3, forms.roundTrip)
            .run();
    }
    std::set<std::int64_t> match(const std::string& expression) {
        std::set<std::int64_t> ids;
        Statement statement(m_db.handle(), "SELECT rowid FROM folded WHERE folded MATCH ?1");
        statement.bind(1, expression);
        while (statement.step())
            ids.insert(statement.integer(0));
        return ids;
    }
    Database m_db;
};

// The words in the documents as the matcher looks for them (both passes), or as Excel's cell
// find does (wildcards): AND or OR.
bool matcherFinds(const IndexQuery& query, bool strict, const Extract& document) {
    std::string typed = query.all ? "&& " : "";
    for (const auto& word : query.words)
        typed += word + " ";
    search::Matcher matcher(false, strict);
    matcher.targetStrsSplit(typed);
    for (const Unit& unit : document.units) {
        if (matcher.smartFind(unit.text) != 0)
            return true;
    }
    return false;
}

bool cellFindFinds(const IndexQuery& query, const Extract& document) {
    int found = 0;
    for (const auto& word : query.words) {
        const platform::office::CellPattern pattern(platform::utf8ToUtf16(word));
        for (const Unit& unit : document.units) {
            if (pattern.foundIn(platform::utf8ToUtf16(unit.text))) {
                ++found;
                break;
            }
        }
    }
    return query.all ? found == static_cast<int>(query.words.size()) : found > 0;
}

TEST_F(IndexTest, NeverLeavesOutADocumentTheMatcherFindsTheWordsIn) {
    std::mt19937 random(20240601);
    std::vector<Extract> documents(200);
    for (std::size_t id = 0; id < documents.size(); ++id) {
        for (int unit = 0, units = 1 + static_cast<int>(random() % 3); unit < units; ++unit)
            documents[id].units.push_back({unit, 0, 0, randomText(random, 2 + random() % 12), ""});
        add(static_cast<std::int64_t>(id), documents[id]);
    }
    int narrowed = 0;
    int leftOut = 0;
    for (int round = 0; round < 300; ++round) {
        const auto& source = documents[random() % documents.size()].units.front().text;
        IndexQuery query;
        query.all = random() % 2 == 0;
        query.cellPatterns = random() % 3 == 0;
        for (int i = 0, n = 1 + static_cast<int>(random() % 3); i < n; ++i) {
            std::string word = randomWord(random, source);
            if (query.cellPatterns && random() % 2 == 0)
                word.insert(random() % word.size(), random() % 2 ? "*" : "?");
            query.words.push_back(word);
        }
        const auto expression = matchExpression(query);
        if (!expression)
            continue;
        ++narrowed;
        const std::set<std::int64_t> found = match(*expression);
        for (std::size_t id = 0; id < documents.size(); ++id) {
            const bool hit = query.cellPatterns ? cellFindFinds(query, documents[id])
                                                : matcherFinds(query, false, documents[id]) ||
                                                      matcherFinds(query, true, documents[id]);
            if (hit) {
                EXPECT_TRUE(found.count(static_cast<std::int64_t>(id)))
                    << "words " << ::testing::PrintToString(query.words) << " all " << query.all
                    << " cells " << query.cellPatterns << " document "
                    << documents[id].units.front().text;
            } else {
                leftOut += found.count(static_cast<std::int64_t>(id)) ? 0 : 1;
            }
        }
    }
    // The test is only worth something when the index really narrows.
    EXPECT_GT(narrowed, 150);
    EXPECT_GT(leftOut, narrowed * 100);
}

TEST_F(IndexTest, ByteWiseMatchesThatNoFoldedTextShows) {
    struct Case {
        const char* text;
        const char* word;
    };
    const Case cases[] = {
        {"xアBCDy", "ABCD"},       // ア is 83 41: "ABCD" starts at its second byte
        {"xアBCy", "ABC"},         // three letters, looked up as a shifted trigram
        {"ｶ表ﾃﾞ", "\\ﾃﾞ"},         // 表 is 95 5C; half-width katakana are single bytes
        {"表示です", "\\示です"},  // the same second byte before double-byte characters
        {"xいｱｲ", "｢ｱｲ"},          // い is 82 A2: its second byte is the half-width ｢
        {"東京ＡＢＣ", "京abc"},   // the folded pass
        {"波〜線", "波～線"},      // 〜 has no code of its own; its best-fit form is ～'s
    };
    std::int64_t id = 0;
    for (const Case& c : cases) {
        search::Matcher matcher(false, false);
        matcher.targetStrsSplit(c.word);
        const bool hit = matcher.smartFind(c.text) != 0;
        EXPECT_TRUE(hit) << c.text << " / " << c.word;
        add(++id, Extract{{}, {{1, 0, 0, c.text, ""}}, 0, ""});
        const auto expression = matchExpression({{c.word}, false});
        ASSERT_TRUE(expression) << c.word;
        EXPECT_TRUE(match(*expression).count(id)) << c.text << " / " << c.word;
    }
}

TEST(MatchExpression, WhatTheIndexCannotNarrow) {
    EXPECT_FALSE(matchExpression({{}, false}));
    EXPECT_FALSE(matchExpression({{"ab"}, false}));         // fewer than three characters
    EXPECT_FALSE(matchExpression({{"abc", "xy"}, false}));  // OR with a short word
    EXPECT_TRUE(matchExpression({{"abcd", "xy"}, true}));   // AND: the short word is skipped
    EXPECT_FALSE(matchExpression({{"ab", "xy"}, true}));
    // 8C 9F 8D F5 89 EF: from its second byte only two characters and a lead byte.
    EXPECT_FALSE(matchExpression({{"検索会"}, false}));
    EXPECT_TRUE(matchExpression({{"日本語"}, false}));
    EXPECT_TRUE(matchExpression({{"\"quoted\""}, false}));  // quotes are escaped
}

}  // namespace
}  // namespace ferretta::cache
