// Word's sentences and paragraph marks, as both the office driver and the native readers make
// them.
#include "documents/sentences.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/unicode.h"

namespace ferretta::documents {
namespace {

std::vector<std::string> utf8(const std::vector<std::u16string>& parts) {
    std::vector<std::string> out;
    for (const auto& part : parts)
        out.push_back(platform::utf16ToUtf8(part));
    return out;
}

TEST(SentencesTest, SplitsJapaneseAndEnglishSentences) {
    const struct {
        const char* paragraph;
        std::vector<std::string> sentences;
    } cases[] = {
        {"", {}},
        {"一文だけ", {"一文だけ"}},
        // No blank after "。": still two sentences (Writer's own cursor misses this one).
        {"最初の文です。次の文です。", {"最初の文です。", "次の文です。"}},
        {"日本語。English here. And more", {"日本語。", "English here. ", "And more"}},
        {"本当？はい！そう。", {"本当？", "はい！", "そう。"}},
        {"Dr. Smith went home.", {"Dr. ", "Smith went home."}},
        {"3.14 is pi.", {"3.14 is pi."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.paragraph);
        EXPECT_EQ(utf8(splitSentences(platform::utf8ToUtf16(c.paragraph))), c.sentences);
    }
}

TEST(SentencesTest, WordSentencesCarryTheirParagraphMark) {
    const auto sentences = utf8(sentencesOfText(platform::utf8ToUtf16("あ。い。\r\rEnd.\rtail")));
    const std::vector<std::string> expected = {"あ。", "い。\r", "\r", "End.\r", "tail"};
    EXPECT_EQ(sentences, expected);
    EXPECT_TRUE(sentencesOfText(u"").empty());
}

TEST(BreaksTest, EveryKindOfBreakBecomesOneCr) {
    EXPECT_EQ(breaksToCr(u"a\r\nb\nc\rd\u2029e\u2028f\r\n\r\n"), u"a\rb\rc\rd\re\rf\r\r");
    EXPECT_EQ(breaksToCr(u"\n\r"), u"\r\r");
}

}  // namespace
}  // namespace ferretta::documents
