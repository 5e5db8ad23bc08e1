// The lexer of PDF syntax: tokens, strings, comments, the two separator sets and the signal
// that a token may go on past the end of the data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdf/engine/lexer.h"

namespace ferretta::pdf {
namespace {

using namespace std::string_view_literals;

// Tokens as "kind:text", strings as "kind:decoded bytes" (with ! when malformed).
std::vector<std::string> lex(std::string_view data, Separators separators = Separators::Iso) {
    static const char* const kinds[] = {"end", "num", "kw", "name", "lit", "hex",  "[",
                                        "]",   "<<",  ">>", "{",    "}",   "stray"};
    Lexer lexer(data, separators);
    std::vector<std::string> out;
    for (;;) {
        std::string bytes;
        const Token t = lexer.next(&bytes);
        if (t.kind == TokenKind::End)
            return out;
        const bool isString = t.kind == TokenKind::LiteralString || t.kind == TokenKind::HexString;
        out.push_back(std::string(kinds[static_cast<int>(t.kind)]) + ":" +
                      (isString ? bytes : std::string(t.text)) + (t.malformed ? "!" : ""));
    }
}

TEST(Lexer, TokensOfIsoSyntax) {
    struct Case {
        std::string_view input;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"-.5 +3 true null", {"num:-.5", "num:+3", "kw:true", "kw:null"}},
        // White space is NUL, HT, LF, FF, CR, SP; a comment runs to the line's end.
        {"a\tb\fc\0d%x y\re"sv, {"kw:a", "kw:b", "kw:c", "kw:d", "kw:e"}},
        {"/A#20b{1}) >", {"name:/A#20b", "{:{", "num:1", "}:}", "stray:)", "stray:>"}},
        // Literal strings: nesting, escapes, octal, continued lines, line ends read as LF.
        {"(a(b)c\\)) (\\n\\t\\101\\0537\\\r\nx\r\ny)", {"lit:a(b)c)", "lit:\n\tA+7x\ny"}},
        // Hex strings: blanks inside, an odd last digit is followed by 0, a bad digit spoils it.
        {"<41 42 4> <4G> <>", {"hex:AB@", "hex:!", "hex:"}},
        {"(open", {"lit:open!"}},
        {"<41", {"hex:!"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lex(c.input), c.tokens) << c.input;
}

TEST(Lexer, DesignSeparatorsAreBlankCrLfOnly) {
    EXPECT_EQ(lex("/Count\t3 x", Separators::Design),
              (std::vector<std::string>{"name:/Count\t3", "kw:x"}));
    EXPECT_EQ(lex("/Count\t3 x"), (std::vector<std::string>{"name:/Count", "num:3", "kw:x"}));
    // Comments are white space under both.
    EXPECT_EQ(lex("%%EOF\n1", Separators::Design), (std::vector<std::string>{"num:1"}));
}

TEST(Lexer, ConsumesOneLineEndAfterAKeywordAndSaysWhenItReachedTheEnd) {
    for (const std::string_view eol : {"\r\n", "\n", "\r"}) {
        const std::string data = "stream" + std::string(eol) + " DATA";
        Lexer lexer(data);
        EXPECT_EQ(lexer.next().text, "stream");
        EXPECT_EQ(lexer.position(), 6 + eol.size()) << "the data's own first byte stays";
    }
    struct Case {
        std::string_view data;
        bool reachedEnd;
    };
    // A token that touches the end could go on in more data; a CR at the end could be a CR LF.
    const Case cases[] = {{"abc", true},    {"abc ", false}, {"abc\r", true}, {"(ab", true},
                          {"(ab) ", false}, {"<<", false},   {"/N[", false},  {"  ", true}};
    for (const Case& c : cases) {
        Lexer lexer(c.data);
        lexer.next();
        EXPECT_EQ(lexer.reachedEnd(), c.reachedEnd) << c.data;
    }
}

TEST(Lexer, KeepsAtMostTheStringLimitAndSkipsInlineImages) {
    Lexer lexer(
        "(abcdef) <41424344> BI /W 1 ID \x01(\xff"
        "EI2 EI Q");
    lexer.setStringLimit(3);
    std::string bytes;
    Token t = lexer.next(&bytes);
    EXPECT_TRUE(t.cut);
    EXPECT_EQ(bytes, "abc");
    bytes.clear();
    lexer.next(&bytes);
    EXPECT_EQ(bytes, "ABC");
    while ((t = lexer.next()).text != "ID") {
    }
    lexer.skipInlineImageData();
    EXPECT_EQ(lexer.next().text, "Q") << "EI inside the data does not end it";
}

}  // namespace
}  // namespace ferretta::pdf
