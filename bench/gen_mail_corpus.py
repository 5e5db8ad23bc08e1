#!/usr/bin/env python3
"""Writes an mbox of Japanese mail the way Thunderbird keeps its Inbox, for the mail benchmark:
by default 10,000 messages, about 100 MB. A fixed seed gives the same bytes every time.

Mixed as a Japanese office inbox is: ISO-2022-JP plain text (most), UTF-8 base64 (web mail),
Shift_JIS quoted-printable, HTML-only UTF-8, multipart/alternative, and some messages with a
PDF or Excel attachment in base64. Needles: "ベンチ会議" in the subject of every 100th message
and on one body line of every 50th, so the expected hit count is known:

    gen_mail_corpus.py OUTPUT [--messages N] [--seed S]     prints the expected hit count
"""
import argparse
import base64
import quopri
import random
import sys

KANJI = "会議資料予定確認報告営業部長課長社員顧客見積請求契約納品提出検討準備連絡対応案件進捗開発設計試験品質改善"
KANA = "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん"
KATA = "アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワヲン"
NEEDLE = "ベンチ会議"


def sentence(rng):
    parts = []
    for _ in range(rng.randint(3, 8)):
        pool = rng.choice((KANJI, KANA, KANA, KATA))
        parts.append("".join(rng.choice(pool) for _ in range(rng.randint(2, 6))))
    return "、".join(parts) + "。"


def jis(text):
    out = bytearray()
    double = False
    sjis = text.encode("cp932")
    i = 0
    while i < len(sjis):
        c = sjis[i]
        if c < 0x80:
            if double:
                out += b"\x1b(B"
                double = False
            out.append(c)
            i += 1
            continue
        c1, c2 = sjis[i], sjis[i + 1]
        i += 2
        if not double:
            out += b"\x1b$B"
            double = True
        if c1 >= 0xE0:
            c1 -= 0x40
        row = (c1 - 0x81) * 2 + 0x21
        if c2 >= 0x80:
            c2 -= 1
        out += bytes([row + 1, c2 - 0x9E + 0x21]) if c2 >= 0x9E else bytes([row, c2 - 0x40 + 0x21])
    if double:
        out += b"\x1b(B"
    return bytes(out)


def b_word(text):
    return "=?ISO-2022-JP?B?%s?=" % base64.b64encode(jis(text)).decode("ascii")


def b64(data):
    encoded = base64.b64encode(data).decode("ascii")
    return "\n".join(encoded[i:i + 76] for i in range(0, len(encoded), 76)).encode("ascii")


def message(rng, n):
    subject = sentence(rng)[:20]
    if n % 100 == 0:
        subject = NEEDLE + "の件 " + subject
    lines = [sentence(rng) for _ in range(rng.randint(25, 70))]
    if n % 50 == 0:
        lines[rng.randrange(len(lines))] = "本日の" + NEEDLE + "は十時からです。"
    body = "\n".join(lines) + "\n"
    head = ("From: %s <user%d@example.jp>\nTo: %s <me@example.jp>\nSubject: %s\n"
            "Date: Mon, 05 Jan 2026 09:00:00 +0900\nMessage-ID: <bench-%d@example.jp>\n"
            "MIME-Version: 1.0\n" % (b_word("送信者" + str(n % 97)), n % 97, b_word("自分"),
                                     b_word(subject), n))
    kind = n % 10
    if kind < 5:
        return (head + "Content-Type: text/plain; charset=ISO-2022-JP\n"
                "Content-Transfer-Encoding: 7bit\n\n").encode("ascii") + jis(body)
    if kind == 5:
        return (head + "Content-Type: text/plain; charset=UTF-8\n"
                "Content-Transfer-Encoding: base64\n\n").encode("ascii") + b64(body.encode("utf-8"))
    if kind == 6:
        return (head + "Content-Type: text/plain; charset=Shift_JIS\n"
                "Content-Transfer-Encoding: quoted-printable\n\n").encode("ascii") + \
            quopri.encodestring(body.encode("cp932"))
    if kind == 7:
        html = "<html><body>" + "".join("<p>%s</p>" % l for l in lines) + "</body></html>"
        return (head + "Content-Type: text/html; charset=UTF-8\n"
                "Content-Transfer-Encoding: quoted-printable\n\n").encode("ascii") + \
            quopri.encodestring(html.encode("utf-8"))
    if kind == 8:
        html = "<html><body>" + "<br>".join(lines) + "</body></html>"
        return (head + "Content-Type: multipart/alternative; boundary=\"alt\"\n\n--alt\n"
                "Content-Type: text/plain; charset=ISO-2022-JP\n\n").encode("ascii") + \
            jis(body) + b"\n--alt\nContent-Type: text/html; charset=UTF-8\n\n" + \
            html.encode("utf-8") + b"\n--alt--\n"
    attachment = rng.randbytes(rng.randint(20000, 60000))
    return (head + "Content-Type: multipart/mixed; boundary=\"mix\"\n\n--mix\n"
            "Content-Type: text/plain; charset=ISO-2022-JP\n\n").encode("ascii") + jis(body) + \
        b"\n--mix\nContent-Type: application/pdf; name=\"doc.pdf\"\n" \
        b"Content-Disposition: attachment; filename=\"doc.pdf\"\n" \
        b"Content-Transfer-Encoding: base64\n\n" + b64(attachment) + b"\n--mix--\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("output")
    parser.add_argument("--messages", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=14)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    hits = 0
    with open(args.output, "wb") as out:
        for n in range(1, args.messages + 1):
            data = message(rng, n)
            lines = data.split(b"\n")
            data = b"\n".join(b">" + l if l.startswith(b"From ") else l for l in lines)
            out.write(b"From - Mon Jan  5 09:00:00 2026\nX-Mozilla-Status: 0001\n"
                      b"X-Mozilla-Status2: 00000000\n" + data + b"\n\n")
            hits += (n % 100 == 0) + (n % 50 == 0)
    print(hits)


if __name__ == "__main__":
    sys.exit(main())
