#include "drivers/pim/mailbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "drivers/pim/html_text.h"
#include "drivers/pim/mail_charsets.h"
#include "drivers/pim/mail_message.h"
#include "support/temp_tree.h"

namespace ferretta::platform::pim {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(FERRETTA_TEST_DATA) / "pim";

using TempFolder = test::TempTree;

std::vector<Item> allItems(ItemFolder& folder) {
    std::vector<Item> items;
    for (std::size_t i = 1; i <= folder.count(); ++i) {
        if (auto item = folder.item(i))
            items.push_back(std::move(*item));
    }
    return items;
}

std::vector<std::string> logLines;
const PimLog kLog = [](std::string_view place, std::string_view message) {
    logLines.push_back(std::string(place) + "|" + std::string(message));
};

TEST(MailCharsetsTest, JapaneseCharsetsAreReadAsWindowsReadsThem) {
    const struct {
        std::string bytes;
        const char* charset;
        const char* text;
    } cases[] = {
        // NEC row 13 and a full-width tilde, which the C library's tables lose
        {"\x1b$B-!\x1b(B \x1b$B!A\x1b(B", "ISO-2022-JP", "① ～"},
        {"\x1b(I6E\x1b(B", "iso-2022-jp", "ｶﾅ"},
        {"\x0e\x36\x45\x0f\x61", "CP50221", "ｶﾅa"},        // shifted out: 6E, then a
        {"\x1b$B$\"\n$$\x1b(B", "ISO-2022-JP", "あ\nい"},  // a line break inside a double-byte run
        {"\x95\x5c\x83\x5c\x87\x40", "Shift_JIS", "表ソ①"},
        {"\x95\x5c", "\"x-sjis\"", "表"},
        {"\xa4\xa2\x8e\xb6\xad\xa1", "EUC-JP", "あｶ①"},
        {"caf\xe9", "ISO-8859-1", "café"},
        {"ok\xff", "UTF-8", "ok\xEF\xBF\xBD"},
        {"\x95\x5c", "us-ascii", "表"},  // 8-bit text mislabelled as ASCII
        {"\x95\x5c", "x-no-such-charset", "表"},
        {"\x1b$B$\"\x1b(B", "", "あ"},
        {"あ", "", "あ"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeCharset(c.bytes, c.charset), c.text) << c.charset << " " << c.bytes;
}

// Each decoder of a message's text against its rows: headers word by word, the names of
// addresses, HTML as visible lines.
TEST(MailTextTest, HeadersAddressesAndHtmlDecodeAsMailersShowThem) {
    using Decode = std::string (*)(const std::string&);
    const Decode header = [](const std::string& raw) { return decodeHeaderText(raw); };
    const Decode to = [](const std::string& raw) {
        const auto mail = readMailMessage("To: " + raw + "\nSubject: x\n\nbody\n");
        return mail ? mail->to : "<no message>";
    };
    const Decode html = [](const std::string& raw) { return htmlToText(raw); };
    const struct {
        Decode decode;
        const char* raw;
        const char* text;
    } cases[] = {
        // one character split between two encoded words of one charset
        {header, "=?UTF-8?B?5Lya?= =?UTF-8?B?6K2w?=", "会議"},
        {header, "=?UTF-8?B?5LqM?=\r\n =?UTF-8?Q?=E8=AD=B0?=", "二議"},
        {header, "=?UTF-8?Q?a_b?= and =?UTF-8?B?5Lya?=", "a b and 会"},
        {header, "Re: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=", "Re: 会議"},
        {header, "=?iso-2022-jp*ja?B?GyRCMnE1RBsoQg==?=", "会議"},
        {header, "\x89\xEF\x8B\x63", "会議"},  // raw Shift_JIS
        {header, "=?UTF-8?X?bad?= =?broken", "=?UTF-8?X?bad?= =?broken"},
        {to, "=?UTF-8?B?5bGx55Sw?= <y@example.jp>", "山田"},
        {to, "\"=?UTF-8?B?5bGx55Sw?=\" <y@example.jp>, s@example.jp", "山田; s@example.jp"},
        // a comma inside a decoded name does not split the mailbox
        {to, "=?UTF-8?B?5bGx55SwLCDlpKrpg44=?= <y@example.jp>", "山田, 太郎"},
        {to, "team: =?UTF-8?B?5bGx55Sw?= <y@example.jp>, z@example.jp;", "山田; z@example.jp"},
        {to, "y@example.jp (=?UTF-8?B?5bGx55Sw?=)", "山田"},
        {html, "<p>a  b\n c</p><p>d</p>", "a b c\nd"},
        {html, "x<br>y<br><br>z", "x\ny\n\nz"},
        {html, "<div><div>deep</div></div>tail", "deep\ntail"},
        {html, "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>", "a b\nc"},
        {html,
         "<head><title>t</title><style>s{}</style></head><script>x()</script>&lt;ok&gt;&nbsp;!",
         "<ok> !"},
        {html, "<pre>a  b\nc</pre>", "a  b\nc"},
        {html, "<p>unclosed <b>bold", "unclosed bold"},
        {html, "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.decode(c.raw), c.text) << c.raw;
    EXPECT_EQ(decodeQuotedPrintable("a=3Db=\r\nc=\nd=zz="), "a=bcd=zz");
    EXPECT_EQ(sniffHtmlCharset("<META http-equiv=\"Content-Type\" content=\"text/html; "
                               "charset=Shift_JIS\">"),
              "shift_jis");
    EXPECT_EQ(sniffHtmlCharset("<meta charset='euc-jp'/>"), "euc-jp");
}

// A multipart that names no boundary cannot be cut into parts: it is read as one text part.
TEST(MailMessageTest, AMultipartWithoutBoundaryIsOnePart) {
    const auto mail = readMailMessage(
        "Subject: x\nMIME-Version: 1.0\nContent-Type: multipart/mixed\n\n--zz\n"
        "Content-Type: text/plain\n\nthe text alpha\n--zz--\n");
    ASSERT_TRUE(mail);
    EXPECT_NE(mail->body.find("the text alpha"), std::string::npos) << mail->body;
}

TEST(MboxTest, FromLinesNeedADateAndABlankLineOrAFullDate) {
    const struct {
        const char* line;
        bool afterBlank;
        bool starts;
    } cases[] = {
        {"From - Mon Jan  5 09:01:00 2026", true, true},
        {"From - Mon Jan  5 09:01:00 2026", false, true},
        {"From 1234@xxx Sat Jan 03 12:34:56 +0000 2026\r", false, true},
        {"From me 10:30 2026", true, true},
        {"From me 10:30 2026", false, false},
        {"From the old server, 2026.", true, false},
        {"From: someone", true, false},
        {">From - Mon Jan  5 09:01:00 2026", true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isMboxFromLine(c.line, c.afterBlank), c.starts) << c.line;
}

TEST(MboxTest, MessagesAreFoundAcrossBlocksAndBadSeparatorsAreNotMessages) {
    TempFolder temp;
    const std::string message = "Subject: s\n\nbody\n\n";
    const std::string longLine(3u << 20, 'x');  // spans several of the reader's blocks
    const struct {
        std::string text;
        std::size_t count;
    } cases[] = {
        {"", 0},
        {"not an mbox\n", 0},
        {"From a Mon Jan  5 09:01:00 2026\n" + message + "From b Mon Jan  5 09:02:00 2026\n" +
             message,
         2},
        {"From a Mon Jan  5 09:01:00 2026\r\n" + message + "From b Mon Jan  5 09:02:00 2026\r\n",
         2},
        // a body line that looks like a separator but has no date, or follows text
        {"From a Mon Jan  5 09:01:00 2026\nx\n\nFrom here on\nFrom me 10:30 2026\n", 1},
        {"From a Mon Jan  5 09:01:00 2026\n" + longLine + "\n\nFrom b Tue Jan  6 09:01:00 2026\n" +
             longLine,
         2},
        {"From a Mon Jan  5 09:01:00 2026\n" + longLine + "From b Tue Jan  6 09:01:00 2026\n", 1},
    };
    for (const auto& c : cases) {
        const fs::path path = temp.write("box", c.text);
        const int fd = ::open(path.c_str(), O_RDONLY);
        EXPECT_EQ(scanMboxOffsets(fd)->size(), c.count) << c.text.substr(0, 60);
        ::close(fd);
    }
}

struct ExpectedMail {
    const char* subject;
    const char* sender;
    const char* bodyLine;  // a line the body must hold
};

// The same seven messages as Thunderbird's mbox holds them; in the Maildir four of them.
const ExpectedMail kFixtureMails[] = {
    {"①定例会議のお知らせ", "山田 太郎", "資料は㈱サンプルの分も用意してください。"},
    {"見積表の送付", "鈴木 花子", "見積表を添付します。"},
    {"大阪出張の報告", "Sato", "大阪支店で打ち合わせをしました。"},
    {"大掃除", "soumu@example.jp", "担当：総務部"},
    {"忘年会の出欠", "鈴木 花子", "忘年会に出席します。"},
    {"broken part", "sato@example.jp", "壊れた添付の前の本文"},
    {"旧システムから", "old@example.jp", "From the old server, 2026."},
};

TEST(MailboxTest, ThunderbirdInboxGivesEveryMessage) {
    auto folder = openMailbox(kData / "Inbox", kLog);
    ASSERT_TRUE(folder);
    const auto items = allItems(*folder);
    ASSERT_EQ(items.size(), std::size(kFixtureMails));
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].subject, kFixtureMails[i].subject);
        EXPECT_EQ(items[i].senderName, kFixtureMails[i].sender);
        EXPECT_NE(items[i].body.find(kFixtureMails[i].bodyLine), std::string::npos)
            << items[i].body;
        EXPECT_EQ(items[i].ref.origin, Origin::Mbox);
        EXPECT_EQ(items[i].ref.check, "fixture-" + std::to_string(i + 1) + "@example.jp");
    }
    EXPECT_EQ(items[0].to, "鈴木 花子; sato@example.jp");
    EXPECT_EQ(items[0].cc, "田中 一郎");
    EXPECT_EQ(items[0].categories, "仕事, 会議, Important");
    // Neither the HTML alternative nor the page's head and script are text; the alternative's
    // plain part is.
    EXPECT_EQ(items[3].body.find("secret"), std::string::npos);
    EXPECT_EQ(items[3].body.find("件名"), std::string::npos);
    EXPECT_EQ(items[4].body.find("HTMLだけ"), std::string::npos);
    // Quoted-printable Shift_JIS with trail bytes 0x5C; the blank line after the message is
    // the mbox's.
    EXPECT_EQ(items[1].body, "表計算ソフトの件\n見積表を添付します。\n\n");
}

TEST(MailboxTest, BadMailboxesAreEmptyOrMissing) {
    TempFolder temp;
    logLines.clear();
    EXPECT_EQ(openMailbox(temp.write("empty", ""), kLog)->count(), 0u);
    // Told, and never waited on: a FIFO would block the open until a writer came, a device
    // would be read for ever.
    ASSERT_EQ(::mkfifo((temp.root() / "fifo").c_str(), 0600), 0);
    const std::pair<fs::path, const char*> refused[] = {
        {temp.root() / "missing", "メールボックスがありません: "},
        {temp.root() / "fifo", "メールボックスがファイルでもフォルダでもありません: "},
        {"/dev/zero", "メールボックスがファイルでもフォルダでもありません: "},
    };
    for (const auto& [place, reason] : refused) {
        std::string why;
        EXPECT_EQ(openMailbox(place, kLog, {}, &why), nullptr);
        EXPECT_EQ(why, reason + place.string());
    }
    EXPECT_EQ(logLines.size(), std::size(refused));
    // Not an mbox: one saved message.
    auto single = openMailbox(temp.write("saved.eml", "Subject: 一通\n\n本文\n"), kLog);
    ASSERT_EQ(single->count(), 1u);
    EXPECT_EQ(single->item(1)->subject, "一通");
    // A folder of message files, in number order.
    temp.write("mh/10", "Subject: ten\n\n");
    temp.write("mh/9", "Subject: nine\n\n");
    auto mh = openMailbox(temp.root() / "mh", kLog);
    EXPECT_EQ(mh->item(1)->subject, "nine");
    // A message gone since the folder was listed is skipped, and the folder says which and why.
    temp.write("md/cur/1.A.host:2,S", "Subject: one\n\n");
    temp.write("md/cur/2.B.host:2,S", "Subject: two\n\n");
    auto maildir = openMailbox(temp.root() / "md", kLog);
    fs::remove(temp.root() / "md/cur/2.B.host:2,S");
    EXPECT_EQ(maildir->item(1)->subject, "one");
    EXPECT_FALSE(maildir->item(2));
    const auto skipped = maildir->skipped();
    ASSERT_TRUE(skipped);
    EXPECT_EQ(skipped->where, (temp.root() / "md/cur/2.B.host:2,S").string());
    EXPECT_EQ(skipped->why, std::strerror(ENOENT));
}

// A stop request gives up the scan of a mailbox and the reading of a large message, read on
// the caller's thread (the only message) or ahead on the workers (one of several).
// keepGoing is only ever asked on the caller's thread, so the flags need no lock.
TEST(MailboxTest, AStopGivesUpTheMailboxAndTheMessage) {
    TempFolder temp;
    const auto message = [](std::size_t size) {
        return "From a Mon Jan  5 09:01:00 2026\nSubject: long\n\n" + std::string(size, 'x') +
               "\n\n";
    };
    for (const int count : {1, 2}) {
        SCOPED_TRACE(count);
        std::string text;
        for (int i = 0; i < count; ++i)
            text += message((40u << 20) / count);
        const fs::path box = temp.write("box", text);
        std::string why = "untouched";
        EXPECT_EQ(openMailbox(
                      box, kLog, [] { return false; }, &why),
                  nullptr);
        EXPECT_EQ(why, "untouched");
    }
    // The only message is read on the caller's thread, which asks while it reads (not only
    // once it has read): the second answer stops it.
    {
        bool opened = false;
        int asked = 0;
        auto folder = openMailbox(temp.write("one", message(40u << 20)), kLog,
                                  [&] { return !opened || ++asked < 2; });
        ASSERT_TRUE(folder);
        opened = true;
        EXPECT_FALSE(folder->item(1));
        EXPECT_FALSE(folder->skipped());
        EXPECT_FALSE(folder->item(1));
    }
    // Several are read ahead on the workers and the caller asks while it waits for one. How
    // far the workers got before the first answer is theirs to say (a fast machine reads both
    // before it is asked at all); after a stop nothing more is handed out.
    {
        bool opened = false;
        int asked = 0;
        auto folder = openMailbox(temp.write("two", message(20u << 20) + message(20u << 20)), kLog,
                                  [&] { return !opened || (++asked, false); });
        ASSERT_TRUE(folder);
        opened = true;
        std::size_t handedOut = 0;
        while (handedOut < 2 && folder->item(handedOut + 1))
            ++handedOut;
        EXPECT_EQ(handedOut<2, asked> 0);
        EXPECT_FALSE(folder->skipped());
        if (handedOut < 2) {
            EXPECT_FALSE(folder->item(2));
        }
    }
}

TEST(MailboxTest, LargeAttachmentIsNotText) {
    TempFolder temp;
    std::string box =
        "From a Mon Jan  5 09:01:00 2026\nSubject: big\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=b\n\n--b\n"
        "Content-Type: text/plain; charset=UTF-8\n\n添付します\n--b\n"
        "Content-Type: application/octet-stream; name=\"data.bin\"\n"
        "Content-Disposition: attachment; filename=\"data.bin\"\n"
        "Content-Transfer-Encoding: base64\n\n";
    const std::string line(76, 'Q');
    for (int i = 0; i < (20 << 20) / 76; ++i)
        box += line + "\n";
    box += "--b\nContent-Type: text/plain; name=\"notes.txt\"\n\nattached text\n--b--\n";
    auto folder = openMailbox(temp.write("big", box), kLog);
    ASSERT_EQ(folder->count(), 1u);
    const auto item = folder->item(1);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->body, "添付します");
}

TEST(MailboxTest, MessageIsFoundAgainForTheViewer) {
    TempFolder temp;
    const auto message = [](int n, const std::string& body) {
        return "From x Mon Jan  5 09:0" + std::to_string(n) + ":00 2026\nMessage-ID: <m" +
               std::to_string(n) + "@x>\nSubject: " + std::to_string(n) + "\n\n" + body + "\n\n";
    };
    const fs::path box = temp.write("box", message(1, "one") + message(2, ">From me\nsecond"));
    auto items = allItems(*openMailbox(box, kLog));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].body, "From me\nsecond\n\n");
    EXPECT_EQ(mailMessageBytes(items[1].ref),
              "Message-ID: <m2@x>\nSubject: 2\n\nFrom me\nsecond\n\n");
    // The first message deleted and the box compacted: the second moved.
    temp.write("box", message(2, "second"));
    EXPECT_TRUE(mailMessageBytes(items[1].ref));
    EXPECT_FALSE(mailMessageBytes(items[0].ref));

    // A Maildir message read (renamed with new flags and moved to cur/) is found by its
    // unique name; one deleted is gone.
    const fs::path maildir = temp.root() / "md";
    temp.write("md/new/1.A.host", "Message-ID: <a@x>\nSubject: a\n\n");
    auto mails = allItems(*openMailbox(maildir, kLog));
    ASSERT_EQ(mails.size(), 1u);
    fs::create_directories(maildir / "cur");
    fs::rename(maildir / "new/1.A.host", maildir / "cur/1.A.host:2,S");
    EXPECT_TRUE(mailMessageBytes(mails[0].ref));
    fs::remove(maildir / "cur/1.A.host:2,S");
    EXPECT_FALSE(mailMessageBytes(mails[0].ref));
}

}  // namespace
}  // namespace ferretta::platform::pim
