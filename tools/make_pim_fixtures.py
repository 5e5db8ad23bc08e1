#!/usr/bin/env python3
"""Writes the mail, calendar and address-book files that the item readers' tests read, byte for
byte the way the programs that make them write them:

  Inbox            Thunderbird's Local Folders mbox ("From - <date>" lines, X-Mozilla headers,
                   ">From " escaping, a blank line between messages)
  Maildir/         Evolution's local inbox (cur/ and new/, "<time>.<unique>.<host>:2,<flags>")
  events.ics       Thunderbird/Lightning export: VTIMEZONE, folded lines, RRULE, CATEGORIES
  tasks.ics        VTODO items; broken.ics ends inside a component
  notes.ics        VJOURNAL items (Evolution memos)
  contacts30.vcf   Evolution / Google vCard 3.0; contacts40.vcf vCard 4.0
  phone21.vcf      a Japanese feature phone's vCard 2.1 export (Shift_JIS, quoted-printable)

The Japanese mail is encoded as Windows' mail programs encode it: ISO-2022-JP built from CP932
(so NEC row 13 such as ① and IBM extensions survive), Shift_JIS as CP932.

    make_pim_fixtures.py OUTPUT_FOLDER          write the files
    make_pim_fixtures.py --check FOLDER         exit 1 when FOLDER differs from what is written
"""
import base64
import filecmp
import os
import quopri
import sys
import tempfile


def jis(text):
    """ISO-2022-JP bytes of a text, from its CP932 form (Windows' code page 50220)."""
    sjis = text.encode("cp932")
    out = bytearray()
    double = False
    kana = False
    i = 0
    while i < len(sjis):
        c = sjis[i]
        if c < 0x80:
            if double or kana:
                out += b"\x1b(B"
                double = kana = False
            out.append(c)
            i += 1
        elif 0xA1 <= c <= 0xDF:
            # half-width katakana: JIS X 0201 kana set
            if not kana:
                out += b"\x1b(I"
                kana, double = True, False
            out.append(c - 0x80)
            i += 1
        else:
            c1, c2 = sjis[i], sjis[i + 1]
            i += 2
            if not double:
                out += b"\x1b$B"
                double, kana = True, False
            if c1 >= 0xE0:
                c1 -= 0x40
            row = (c1 - 0x81) * 2 + 0x21
            if c2 >= 0x80:
                c2 -= 1
            if c2 >= 0x9E:
                out += bytes([row + 1, c2 - 0x9E + 0x21])
            else:
                out += bytes([row, c2 - 0x40 + 0x21])
    if double or kana:
        out += b"\x1b(B"
    return bytes(out)


def b_word(text, charset):
    raw = jis(text) if charset.upper() == "ISO-2022-JP" else text.encode(
        "cp932" if charset.upper() == "SHIFT_JIS" else charset)
    return "=?%s?B?%s?=" % (charset, base64.b64encode(raw).decode("ascii"))


def crlf(text):
    return text.replace("\n", "\r\n")


def b64_lines(data):
    encoded = base64.b64encode(data).decode("ascii")
    return "\n".join(encoded[i:i + 76] for i in range(0, len(encoded), 76))


# ---- mail -------------------------------------------------------------------------------

def head(number, subject, sender, to, extra=""):
    return ("Message-ID: <fixture-%d@example.jp>\n"
            "Date: Mon, 05 Jan 2026 09:%02d:00 +0900\n"
            "From: %s\n"
            "To: %s\n"
            "Subject: %s\n"
            "MIME-Version: 1.0\n%s") % (number, number, sender, to, subject, extra)


def mails():
    """The messages as bytes (without mbox From lines), in delivery order."""
    yamada = "%s <yamada@example.jp>" % b_word("山田 太郎", "ISO-2022-JP")
    suzuki = "%s <suzuki@example.jp>" % b_word("鈴木 花子", "ISO-2022-JP")
    out = []
    # 1. ISO-2022-JP: subject and body, a CP932-only character, Thunderbird's tag, a Cc
    out.append(head(1, b_word("①定例会議のお知らせ", "ISO-2022-JP"), yamada,
                    suzuki + ", sato@example.jp",
                    "Cc: %s <tanaka@example.jp>\nKeywords: %s\n"
                    "Content-Type: text/plain; charset=ISO-2022-JP\n"
                    "Content-Transfer-Encoding: 7bit\n" % (b_word("田中 一郎", "ISO-2022-JP"),
                                                            b_word("仕事,会議", "ISO-2022-JP"))
                    ).encode("ascii") + b"\n" +
               jis("鈴木さん\n\n来週の定例会議は第２会議室で行います。\n"
                   "資料は㈱サンプルの分も用意してください。\n\n山田\n"))
    # 2. Shift_JIS quoted-printable, with 0x5C trail bytes (表, ソ) and a line of its own
    qp_body = quopri.encodestring(
        "表計算ソフトの件\r\n見積表を添付します。\r\n".encode("cp932")).decode("ascii")
    out.append(head(2, b_word("見積表の送付", "SHIFT_JIS"), suzuki, yamada,
                    "Content-Type: text/plain; charset=Shift_JIS\n"
                    "Content-Transfer-Encoding: quoted-printable\n").encode("ascii") + b"\n" +
               qp_body.encode("ascii").replace(b"\r\n", b"\n"))
    # 3. UTF-8, base64 body (web mail), a long subject in two encoded words
    body3 = "出張報告です。\n大阪支店で打ち合わせをしました。\n".encode("utf-8")
    subject3 = "=?UTF-8?B?%s?=\n =?UTF-8?B?%s?=" % (
        base64.b64encode("大阪出張の".encode("utf-8")).decode("ascii"),
        base64.b64encode("報告".encode("utf-8")).decode("ascii"))
    out.append(head(3, subject3, "Sato <sato@example.jp>", yamada,
                    "Content-Type: text/plain; charset=UTF-8\n"
                    "Content-Transfer-Encoding: base64\n").encode("ascii") + b"\n" +
               b64_lines(body3).encode("ascii") + b"\n")
    # 4. HTML only (quoted-printable UTF-8): markup, entities, a script that is not text
    html4 = ("<html><head><title>件名</title><style>p{color:red}</style></head><body>"
             "<p>年末の&nbsp;大掃除について</p><div>担当：<b>総務部</b><br>日程：12月28日</div>"
             "<script>var secret = '大掃除';</script></body></html>")
    out.append(head(4, "=?UTF-8?Q?%s?=" % "".join("=%02X" % b for b in "大掃除".encode("utf-8")),
                    "soumu@example.jp", yamada,
                    "Content-Type: text/html; charset=UTF-8\n"
                    "Content-Transfer-Encoding: quoted-printable\n").encode("ascii") + b"\n" +
               quopri.encodestring(html4.encode("utf-8")) + b"\n")
    # 5. multipart/alternative: the plain part is the body, the HTML part not read
    out.append(head(5, b_word("忘年会の出欠", "ISO-2022-JP"), suzuki, yamada,
                    "Content-Type: multipart/alternative; boundary=\"alt5\"\n").encode("ascii") +
               b"\nThis is a multi-part message in MIME format.\n--alt5\n"
               b"Content-Type: text/plain; charset=ISO-2022-JP\n"
               b"Content-Transfer-Encoding: 7bit\n\n" + jis("忘年会に出席します。\n") +
               b"--alt5\nContent-Type: text/html; charset=UTF-8\n\n" +
               "<p>忘年会に出席します。HTMLだけの文</p>\n".encode("utf-8") + b"--alt5--\n")
    # 6. a broken part: its base64 is garbage and the closing boundary never comes
    out.append(head(6, "broken part", "sato@example.jp", yamada,
                    "Content-Type: multipart/mixed; boundary=\"mix6\"\n").encode("ascii") +
               b"\n--mix6\nContent-Type: text/plain; charset=UTF-8\n\n" +
               "壊れた添付の前の本文\n".encode("utf-8") +
               b"--mix6\nContent-Type: text/plain; charset=UTF-8\n"
               b"Content-Transfer-Encoding: base64\n\n@@@@not base64 at all####\n")
    # 7. EUC-JP with an escaped body line that starts with "From " (mbox escaping)
    out.append(head(7, b_word("旧システムから", "ISO-2022-JP"), "old@example.jp", yamada,
                    "Content-Type: text/plain; charset=EUC-JP\n"
                    "Content-Transfer-Encoding: 8bit\n").encode("ascii") + b"\n" +
               "旧システムのメールです。\nFrom the old server, 2026.\n".encode("euc_jp"))
    return out


def thunderbird_mbox(messages):
    """Thunderbird's mbox: a From line, its status headers, the message with "From " lines
    escaped, then a blank line."""
    out = bytearray()
    for number, message in enumerate(messages, 1):
        out += b"From - Mon Jan  5 09:%02d:00 2026\n" % number
        out += b"X-Mozilla-Status: 0001\nX-Mozilla-Status2: 00000000\n"
        if number == 1:
            out += b"X-Mozilla-Keys: $label1" + b" " * 70 + b"\n"
        else:
            out += b"X-Mozilla-Keys:" + b" " * 80 + b"\n"
        lines = message.split(b"\n")
        out += b"\n".join(b">" + line if line.startswith(b"From ") else line for line in lines)
        if not out.endswith(b"\n"):
            out += b"\n"
        out += b"\n"
    return bytes(out)


def evolution_maildir(folder, messages):
    for sub in ("cur", "new"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    # Delivery times out of name order on purpose: 999999999 sorts after 1767571200 by name.
    names = [("cur", "1767571200.M1P100Q1.desktop:2,S"),
             ("cur", "1767571260.M2P100Q2.desktop:2,RS"),
             ("new", "1767571320.M3P100Q3.desktop"),
             ("cur", "999999999.M0P99Q0.desktop:2,S")]
    chosen = [messages[2], messages[3], messages[4], messages[0]]
    for (sub, name), message in zip(names, chosen):
        with open(os.path.join(folder, sub, name), "wb") as f:
            f.write(crlf(message.decode("latin-1")).encode("latin-1"))
    # A delivery cut off in the middle of its head.
    with open(os.path.join(folder, "new", "1767571380.M4P100Q4.desktop"), "wb") as f:
        f.write(b"Message-ID: <cut@example.jp>\r\nSubject: =?ISO-2022-JP?B?GyRC")


# ---- calendar ---------------------------------------------------------------------------

VTIMEZONE = """BEGIN:VTIMEZONE
TZID:Asia/Tokyo
BEGIN:STANDARD
TZOFFSETFROM:+0900
TZOFFSETTO:+0900
TZNAME:JST
DTSTART:19700101T000000
END:STANDARD
END:VTIMEZONE
"""


def fold(line):
    """Folds a content line at 75 octets, never inside a UTF-8 character."""
    data = line.encode("utf-8")
    parts = []
    while len(data) > 75:
        cut = 75 if not parts else 74
        while (data[cut] & 0xC0) == 0x80:
            cut -= 1
        parts.append(data[:cut])
        data = data[cut:]
    parts.append(data)
    return b"\r\n ".join(parts).decode("utf-8")


def calendar(components):
    lines = ["BEGIN:VCALENDAR", "PRODID:-//Mozilla.org/NONSGML Mozilla Calendar V1.1//EN",
             "VERSION:2.0"] + VTIMEZONE.strip().split("\n")
    for component in components:
        lines += component.strip().split("\n")
    lines.append("END:VCALENDAR")
    return "".join(fold(line) + "\r\n" for line in lines)


EVENTS = [
    """BEGIN:VEVENT
CREATED:20251201T000000Z
DTSTAMP:20251201T000000Z
UID:event-weekly@example.jp
SUMMARY:週次定例会議
RRULE:FREQ=WEEKLY;BYDAY=MO
DTSTART;TZID=Asia/Tokyo:20260105T100000
DTEND;TZID=Asia/Tokyo:20260105T110000
LOCATION:本社 第２会議室
CATEGORIES:仕事,会議
DESCRIPTION:議題は毎週の進捗確認です。\\n資料は前日までに共有してください。長い行は折り返されて書かれるので読み手が元に戻さなければなりません。
END:VEVENT""",
    """BEGIN:VEVENT
CREATED:20251115T000000Z
DTSTAMP:20251115T000000Z
UID:event-party@example.jp
SUMMARY:忘年会
DTSTART;TZID=Asia/Tokyo:20251226T190000
DTEND;TZID=Asia/Tokyo:20251226T210000
LOCATION:銀座の居酒屋
CATEGORIES:個人
END:VEVENT""",
]

TASKS = [
    """BEGIN:VTODO
CREATED:20260102T000000Z
DTSTAMP:20260102T000000Z
UID:task-report@example.jp
SUMMARY:月次報告書の作成
DESCRIPTION:売上表を更新する\\n部長に提出する
CATEGORIES:仕事
STATUS:NEEDS-ACTION
END:VTODO""",
    """BEGIN:VTODO
DTSTAMP:20260103T000000Z
UID:task-shopping@example.jp
SUMMARY:買い物
DESCRIPTION:牛乳\\nパン
END:VTODO""",
]

NOTES = [
    """BEGIN:VJOURNAL
CREATED:20260104T000000Z
DTSTAMP:20260104T000000Z
UID:note-ideas@example.jp
SUMMARY:新製品のアイデア
DESCRIPTION:軽くて丈夫な傘\\n折りたためる椅子
CATEGORIES:アイデア
END:VJOURNAL""",
]


# ---- contacts ---------------------------------------------------------------------------

CONTACTS30 = """BEGIN:VCARD
VERSION:3.0
UID:contact-yamada@example.jp
FN:山田 太郎
N:山田;太郎;;;
ORG:株式会社サンプル;営業部
TITLE:課長
EMAIL;TYPE=WORK:yamada@example.jp
EMAIL;TYPE=HOME:taro@example.net
EMAIL;TYPE=OTHER:t.yamada@example.org
EMAIL;TYPE=OTHER:fourth@example.org
ADR;TYPE=HOME:;;千代田1-1;千代田区;東京都;100-0001;日本
ADR;TYPE=WORK:;;梅田2-2;大阪市北区;大阪府;530-0001;日本
URL:https://example.jp/yamada
CATEGORIES:取引先,重要
NOTE:毎年年賀状を送る\\n2025年に担当交代
END:VCARD
BEGIN:VCARD
VERSION:3.0
UID:contact-smith@example.com
FN:John Smith
N:Smith;John;;;
EMAIL;TYPE=INTERNET:john@example.com
END:VCARD
"""

CONTACTS40 = """BEGIN:VCARD
VERSION:4.0
UID:urn:uuid:4fbe8971-0bc3-424c-9c26-36c3e1eff6b1
FN:佐藤 花子
N:佐藤;花子;;;
ORG:サンプル大学
TITLE:教授
EMAIL:hanako@example.ac.jp
ADR;TYPE=work;LABEL="京都市左京区 1-2-3":;;1-2-3;京都市左京区;京都府;606-0001;日本
NOTE:研究室は三階
END:VCARD
"""


def phone21():
    """A feature phone's export: raw Shift_JIS and quoted-printable Shift_JIS values, names
    whose trail bytes are 0x5C, a half-width reading, no UID."""
    def qp(text):
        return quopri.encodestring(text.encode("cp932")).decode("ascii").replace("=\n", "")

    def qp_escaped(text):
        # some phones encode every byte, backslash too
        return "".join("=%02X" % b for b in text.encode("cp932"))

    cards = [
        b"BEGIN:VCARD\r\nVERSION:2.1\r\n"
        b"N;CHARSET=SHIFT_JIS:" + "表;ソ太郎;;;".encode("cp932") + b"\r\n"
        b"SOUND;X-IRMC-N;CHARSET=SHIFT_JIS:" + "ﾋｮｳ;ｿﾀﾛｳ;;;".encode("cp932") + b"\r\n"
        b"TEL;CELL:090-1234-5678\r\n"
        b"EMAIL;INTERNET:sotaro@example.ne.jp\r\n"
        b"NOTE;CHARSET=SHIFT_JIS:" + "予定表を送る".encode("cp932") + b"\r\n"
        b"X-GNO:1\r\nX-GN:" + "友人".encode("cp932") + b"\r\n"
        b"END:VCARD\r\n",
        ("BEGIN:VCARD\r\nVERSION:2.1\r\n"
         "N;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:" + qp("能登") + ";" + qp("表示") +
         ";;;\r\n"
         "FN;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:" + qp_escaped("能登 表示") + "\r\n"
         "ADR;HOME;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:;;" + qp("金沢市①丁目") + ";;;;\r\n"
         "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=SHIFT_JIS:" +
         qp_escaped("一行目の備考で、改行のあとに") + "=0D=0A=\r\n" + qp_escaped("二行目が続く") + "\r\n"
         "EMAIL;INTERNET;PREF:noto@example.ne.jp\r\n"
         "END:VCARD\r\n").encode("ascii"),
        b"BEGIN:VCARD\r\nVERSION:2.1\r\n"
        b"N;CHARSET=X-UNHEARD-OF:Strange;Charset;;;\r\n"
        b"FN;CHARSET=X-UNHEARD-OF:" + "変な文字コード".encode("cp932") + b"\r\n"
        b"END:VCARD\r\n",
    ]
    return b"".join(cards)


# ---- writing ----------------------------------------------------------------------------

def write(folder):
    os.makedirs(folder, exist_ok=True)
    messages = mails()
    with open(os.path.join(folder, "Inbox"), "wb") as f:
        f.write(thunderbird_mbox(messages))
    evolution_maildir(os.path.join(folder, "Maildir"), messages)
    files = {
        "events.ics": calendar(EVENTS),
        "tasks.ics": calendar(TASKS),
        "notes.ics": calendar(NOTES),
        "broken.ics": calendar([TASKS[0]]).replace("END:VTODO\r\n", "", 1).replace(
            "END:VCALENDAR\r\n", "") + calendar([TASKS[1].replace("task-shopping", "task-after")]),
        "contacts30.vcf": crlf(CONTACTS30),
        "contacts40.vcf": crlf(CONTACTS40),
    }
    for name, text in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(text.encode("utf-8"))
    with open(os.path.join(folder, "phone21.vcf"), "wb") as f:
        f.write(phone21())


def same_tree(a, b):
    comparison = filecmp.dircmp(a, b)
    if comparison.left_only or comparison.right_only or comparison.diff_files:
        return False
    for name in comparison.common_files:
        if not filecmp.cmp(os.path.join(a, name), os.path.join(b, name), shallow=False):
            return False
    return all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in comparison.common_dirs)


def main(argv):
    if len(argv) == 3 and argv[1] == "--check":
        with tempfile.TemporaryDirectory() as fresh:
            write(fresh)
            if not same_tree(fresh, argv[2]):
                print("fixtures differ from what make_pim_fixtures.py writes", file=sys.stderr)
                return 1
        return 0
    if len(argv) == 2:
        write(argv[1])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
