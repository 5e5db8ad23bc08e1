#!/usr/bin/env python3
"""Writes a deterministic corpus of CP932 (Windows Shift-JIS) or UTF-8 text files for the
text-search benchmark, with planted needles whose counts are known exactly.

    gen_text_corpus.py [OUT_DIR] [--size-mb 100] [--files 700] [--seed 20240601]
                       [--encoding cp932|utf-8]
    gen_text_corpus.py --one-line FILE [--size-mb 200]

Both encodings hold the same text for the same parameters, so the expected counts agree.

OUT_DIR defaults to bench/data/corpus. Beside it the generator writes
OUT_DIR.stamp.json: the parameters and the expected hit counts. When that stamp
already holds the same parameters the corpus is left as it is. The stamp lives
outside OUT_DIR so that tools which search every file (rg -uu) see only the
corpus.

The expected counts are lines, not occurrences (both are in the stamp):
  strict_ja       lines holding 検索対象ファイル byte for byte
  folded_ja       ... after width and case folding (also half-width ﾌｧｲﾙ)
  strict_en       lines holding ferrettaneedle exactly
  ascii_ci_en     ... ignoring ASCII case only (what rg -i finds)
  folded_en       ... ignoring case and width (ＦｅｒｒｅｔｔａＮｅｅｄｌｅ too)
  regex_id        lines matching id-[0-9]{4}-[a-z]{3}, case-insensitive
Filler text is checked to match none of these, so every hit is a planted one.

Python 3 standard library only; no network.
"""

import argparse
import json
import math
import os
import random
import re
import shutil
import sys
import time
import unicodedata

# Bump when the output changes for the same parameters, so old stamps go stale.
GENERATOR_VERSION = 4

NEEDLE_JA = "検索対象ファイル"
NEEDLE_EN = "ferrettaneedle"
REGEX_ID = re.compile(r"id-[0-9]{4}-[a-z]{3}", re.IGNORECASE)
# rg's \d and [a-z] under -i are Unicode-aware; the filler must not tempt it either.
REGEX_ID_UNICODE = re.compile(r"id-\d{4}-[a-z]{3}", re.IGNORECASE)

KANJI = """
検索 対象 会議 資料 報告 予算 計画 担当 部署 営業 開発 設計 品質 管理 確認 変更 追加 削除 顧客
契約 請求 見積 納期 工程 試験 結果 問題 対応 調査 分析 議事録 社員 研修 日程 場所 東京 大阪
名古屋 福岡 札幌 横浜 京都 本社 支店 事業 売上 利益 費用 経費 申請 承認 決裁 文書 保存 印刷
送付 連絡 電話 手順 仕様書 要件 機能 画面 帳票 入力 出力 設定 環境 障害 復旧 保守 運用 作業
完了 予定 実績 今月 来週 前年 比較 増加 減少 傾向 情報 共有 重要 注意 期限 提出 書類 添付
参照 年度 四半期 取引先 発注 受注 在庫 出荷 倉庫 物流 品番 単価 数量 合計 税込 消費税 氏名
住所 番号 日付 時間 記録 履歴 整理 検討 提案 改善 目標 達成 評価 面談 人事 総務 経理 法務
技術 研究 製品 部品 装置 機械 電源 温度 圧力 測定 基準 規格 安全 衛生 点検 清掃 鍵 窓口
受付 案内 説明 質問 回答 意見 要望 苦情 感謝 挨拶 季節 天気 雨 雪 桜 紅葉 休暇 出張 交通費
宿泊 領収書 髙橋 﨑 德 纊 褜 鍈 銈 森鴎外
""".split()

KATAKANA = """
ファイル フォルダ データ システム サーバー ネットワーク パソコン プリンター メール アドレス
パスワード ユーザー テスト プロジェクト スケジュール ミーティング レポート マニュアル バージョン
アップデート インストール ダウンロード バックアップ セキュリティ クラウド データベース ソフトウェア
ハードウェア インターフェース エラー ログ メッセージ ボタン ウィンドウ メニュー オプション コスト
リスク チーム リーダー メンバー クライアント サービス サポート センター オフィス コピー スキャン
ページ リスト チェック ステータス タスク ヴァージョン ｼｽﾃﾑ ﾃﾞｰﾀ ﾌｧｲﾙ ｻｰﾊﾞｰ ｴﾗｰ ﾒｰﾙ
""".split()

PARTICLES = """
は が を に で と の へ から まで より について に関して として ため など や も ので けど
""".split()

ENDINGS = """
します しました している されます してください です でした ではありません になります と思います
をお願いします いたします できます する予定です があります がありません しておきます かもしれません
""".split()

OPENERS = """
また、 なお、 ただし、 しかし、 そのため、 例えば、 まず、 次に、 最後に、 つきましては、
お疲れ様です。 よろしくお願いいたします。 ありがとうございます。 ※ 【重要】 ■ ● ・ → ①
② ③ Ⅰ． Ⅱ． №
""".split()

ASCII_WORDS = """
server backup error log config update version report data file user admin test OK NG PDF
Excel Word CSV Windows Linux USB LAN VPN HTTP URL API TEL FAX mail ver item total status
TODO memo draft final check Ferret needle search index lorem ipsum alpha beta release
""".split()

FULLWIDTH = """
ＰＤＦ ＣＳＶ ＯＫ Ａ４ 第１会議室 ３階 ＩＴ ＵＳＢ ＦＡＸ ＴＥＬ Ｎｏ． ＩＤ ＦＹ２０２４ Ｑ＆Ａ
㈱ ㈲ ℡ ～ ＠ ＃ ％
""".split()

PUNCT_INNER = ["、", "・", "（", "）", "「", "」", "『", "』", "：", "ー", "…", "＝", "－"]
PUNCT_END = ["。", "。", "。", "！", "？", "", ""]

DIRS_TOP = ["営業部", "開発部", "総務部", "経理部", "shared", "archive", "人事部", "品質保証"]
DIRS_MID = ["2019", "2020", "2021", "2022", "2023", "2024", "FY2023", "共通"]
DIRS_LOW = ["議事録", "報告書", "見積", "old", "案件A", "案件B", "メモ", "logs", "納品物"]
NAME_STEMS = ["議事録", "報告書", "メモ", "report", "minutes", "log", "仕様書", "手順書", "一覧",
              "readme", "見積書", "日報", "週報", "notes", "データ"]


def fold(text):
    """Width and case folding as the search tool's default mode does it."""
    return unicodedata.normalize("NFKC", text).casefold()


def classify(line):
    """Match counts (occurrences) of every benchmark query in one decoded line."""
    folded = fold(line)
    return {
        "strict_ja": line.count(NEEDLE_JA),
        "folded_ja": folded.count(fold(NEEDLE_JA)),
        "strict_en": line.count(NEEDLE_EN),
        "ascii_ci_en": len(re.findall(NEEDLE_EN, line, re.IGNORECASE | re.ASCII)),
        "folded_en": folded.count(NEEDLE_EN),
        "regex_id": len(REGEX_ID.findall(line)),
        "regex_id_unicode": len(REGEX_ID_UNICODE.findall(line)),
    }


def is_clean(line):
    return not any(classify(line).values())


class LineMaker:
    """Builds plausible business-Japanese lines from a fixed vocabulary."""

    def __init__(self, rng):
        self.rng = rng

    def number(self):
        r = self.rng
        kind = r.randrange(8)
        if kind == 0:
            return f"{r.randrange(2015, 2026)}年{r.randrange(1, 13)}月{r.randrange(1, 29)}日"
        if kind == 1:
            return f"{r.randrange(8, 20)}:{r.randrange(0, 60):02d}"
        if kind == 2:
            return f"{r.randrange(1, 999):,}{r.choice(['円', '件', '個', '名', '%', 'kg'])}"
        if kind == 3:
            return f"{r.randrange(1, 10**6):,}円"
        if kind == 4:
            return str(r.randrange(10, 10**5)).translate(FULLWIDTH_DIGITS) + "件"
        if kind == 5:
            return f"No.{r.randrange(1, 500)}"
        if kind == 6:
            # Near relatives of the regular-expression needle that must not match it.
            return f"ID{r.randrange(10, 999)}-{r.choice(['AB', 'XY', 'Q'])}"
        return f"{r.randrange(0, 10**4):04d}"

    def fragment(self):
        r = self.rng
        x = r.random()
        if x < 0.38:
            word = r.choice(KANJI)
            return word + r.choice(PARTICLES) if r.random() < 0.7 else word
        if x < 0.55:
            word = r.choice(KATAKANA)
            return word + r.choice(PARTICLES) if r.random() < 0.6 else word
        if x < 0.67:
            return " " + r.choice(ASCII_WORDS) + " "
        if x < 0.75:
            return self.number()
        if x < 0.80:
            return r.choice(FULLWIDTH)
        if x < 0.90:
            return r.choice(PUNCT_INNER)
        return r.choice(ENDINGS) + r.choice(PUNCT_END)

    def line(self):
        r = self.rng
        if r.random() < 0.05:
            return ""
        # Mostly 20-100 characters, a tail to 200.
        target = min(200, 20 + int(r.expovariate(1 / 35)))
        parts = [r.choice(OPENERS)] if r.random() < 0.2 else []
        length = sum(len(p) for p in parts)
        while length < target:
            frag = self.fragment()
            parts.append(frag)
            length += len(frag)
        if r.random() < 0.8:
            parts.append(r.choice(ENDINGS) + "。")
        return "".join(parts)[:200].strip(" ")


FULLWIDTH_DIGITS = str.maketrans("0123456789", "０１２３４５６７８９")


def check_vocabulary():
    everything = (KANJI + KATAKANA + PARTICLES + ENDINGS + OPENERS + ASCII_WORDS + FULLWIDTH +
                  PUNCT_INNER + PUNCT_END + DIRS_TOP + DIRS_MID + DIRS_LOW + NAME_STEMS)
    for word in everything:
        try:
            word.encode("cp932")
        except UnicodeEncodeError:
            sys.exit(f"gen_text_corpus: vocabulary word {word!r} has no CP932 form")


def make_pool(rng, count, encoding="cp932"):
    maker = LineMaker(rng)
    texts = []
    while len(texts) < count:
        text = maker.line()
        if is_clean(text):
            texts.append(text)
    return texts, [t.encode(encoding) for t in texts]


def needle_variants(rng):
    """Planted strings by kind: (string, how many lines). Mixed so that the strict, case-only and
    fully folded searches each see a different, known number of lines."""
    def rid(letters_case):
        digits = f"{rng.randrange(0, 10**4):04d}"
        letters = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(3))
        prefix = rng.choice(["ID", "id", "Id", "iD"])
        return f"{prefix}-{digits}-{letters_case(letters)}"

    return [
        (lambda: NEEDLE_JA, 900),
        (lambda: "検索対象ﾌｧｲﾙ", 150),  # half-width katakana: folded search only
        (lambda: NEEDLE_JA + "と" + NEEDLE_JA, 50),  # two in one line
        (lambda: "検索対象 ファイル", 60),  # near miss
        (lambda: "FerrettaNeedle", 300),
        (lambda: "ferrettaneedle", 250),
        (lambda: "FERRETTANEEDLE", 150),
        (lambda: "ＦｅｒｒｅｔｔａＮｅｅｄｌｅ", 200),
        (lambda: "ｆｅｒｒｅｔｔａｎｅｅｄｌｅ", 60),
        (lambda: "Ｆerrettaｎeedle", 40),
        (lambda: "Ferretta Needle", 80),  # near miss
        (lambda: rid(str.upper), 400),
        (lambda: rid(str.lower), 150),
        (lambda: rid(str.title), 50),
        (lambda: f"ID-{rng.randrange(0, 1000):03d}-ABC", 150),  # near misses
        (lambda: f"ID-{rng.randrange(0, 10**5):05d}-AB", 150),
        (lambda: f"ID_{rng.randrange(0, 10**4):04d}-ABC", 100),
    ]


def file_sizes(rng, total, count):
    big = [int(total * 0.08), int(total * 0.07)]  # 24 MB and 21 MB at 300 MB
    medium = [int(rng.uniform(0.007, 0.022) * total) for _ in range(max(0, min(30, count // 60)))]
    rest_count = max(0, count - len(big) - len(medium))
    rest_total = max(0, total - sum(big) - sum(medium))
    raw = [math.exp(rng.gauss(0, 1.3)) for _ in range(rest_count)]
    scale = rest_total / sum(raw) if raw else 0
    small = [max(200, min(int(x * scale), 3 * 2**20)) for x in raw]
    for i in range(0, len(small), 397):  # a few empty files
        small[i] = 0
    sizes = big + medium + small
    rng.shuffle(sizes)
    return sizes[:count]


def file_paths(rng, count):
    paths = []
    for i in range(count):
        depth = rng.choice([0, 1, 1, 2, 2, 2, 3, 3])
        parts = []
        if depth >= 1:
            parts.append(rng.choice(DIRS_TOP))
        if depth >= 2:
            parts.append(rng.choice(DIRS_MID))
        if depth >= 3:
            parts.append(rng.choice(DIRS_LOW))
        parts.append(f"{rng.choice(NAME_STEMS)}_{i:04d}.txt")
        paths.append(os.path.join(*parts))
    return paths


def plant_line(rng, base, needle):
    """Inserts needle into a filler line at a random place, sometimes padded with blanks."""
    pos = rng.randrange(len(base) + 1)
    if needle.isascii() and rng.random() < 0.5:
        needle = f" {needle} "
    return base[:pos] + needle + base[pos:]


def write_corpus(out_dir, size_mb, file_count, seed, encoding="cp932"):
    rng = random.Random(seed)
    texts, encoded = make_pool(rng, 60000, encoding)
    # Sizes are those of the CP932 text, so both encodings draw the same lines.
    if encoding != "cp932":
        encoded_cp932 = [t.encode("cp932") for t in texts]
    else:
        encoded_cp932 = encoded
    average = sum(len(e) + 2 for e in encoded_cp932) / len(encoded_cp932)

    sizes = file_sizes(rng, size_mb * 2**20, file_count)
    paths = file_paths(rng, file_count)
    line_counts = [max(1, round(s / average)) if s else 0 for s in sizes]

    # Where each planted string goes: a file chosen by size, a line chosen at random, plus some
    # on first and last lines, where off-by-one faults live.
    plants = {}
    for make, count in needle_variants(rng):
        targets = rng.choices(range(file_count), weights=line_counts, k=count)
        for k, f in enumerate(targets):
            n = line_counts[f]
            if k % 25 == 0:
                j = 0
            elif k % 25 == 1:
                j = n - 1
            else:
                j = rng.randrange(n)
            plants.setdefault((f, j), []).append(make())

    totals_lines = {}
    totals_occurrences = {}
    written = 0
    for f in range(file_count):
        path = os.path.join(out_dir, paths[f])
        os.makedirs(os.path.dirname(path), exist_ok=True)
        n = line_counts[f]
        if n == 0:
            open(path, "wb").close()
            continue
        picks = rng.choices(range(len(encoded)), k=n)
        lines = [encoded[i] for i in picks]
        for j in range(n):
            needles = plants.get((f, j))
            if not needles:
                continue
            text = texts[picks[j]]
            for needle in needles:
                text = plant_line(rng, text, needle)
            for key, value in classify(text).items():
                totals_occurrences[key] = totals_occurrences.get(key, 0) + value
                totals_lines[key] = totals_lines.get(key, 0) + (1 if value else 0)
            lines[j] = text.encode(encoding)

        style = rng.random()
        eol = b"\n" if 0.80 <= style < 0.95 else b"\r\n"
        if style < 0.95:
            data = eol.join(lines)
        else:  # mixed line ends
            ends = rng.choices([b"\r\n", b"\n"], weights=[3, 1], k=n - 1) + [b""]
            data = b"".join(l + e for l, e in zip(lines, ends))
        if rng.random() < 0.93:  # the rest end without a line break
            data += eol
        with open(path, "wb") as out:
            out.write(data)
        written += len(data)

    for key in classify("").keys():
        totals_lines.setdefault(key, 0)
        totals_occurrences.setdefault(key, 0)
    return {"lines": totals_lines, "occurrences": totals_occurrences, "bytes": written,
            "files": file_count}


def write_one_line(path, size_mb, seed):
    """One line of size_mb MB with the Japanese needle once, in its first megabyte (a searcher
    keeps only the start of an endless line)."""
    rng = random.Random(seed)
    _, encoded = make_pool(rng, 4000)
    chunk = b"".join(e for e in encoded if e)
    while len(chunk) < 4 * 2**20:
        chunk += chunk
    total = size_mb * 2**20
    head = chunk[: 2**19].decode("cp932", errors="ignore").encode("cp932")
    needle = ("。" + NEEDLE_JA + "。").encode("cp932")
    written = 0
    with open(path, "wb") as out:
        out.write(head + needle)
        written += len(head) + len(needle)
        while written + len(chunk) < total:
            out.write(chunk)
            written += len(chunk)
        out.write(b"\r\n")
        written += 2
    return written


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("out_dir", nargs="?", default=os.path.join(here, "data", "corpus"))
    ap.add_argument("--size-mb", type=int, default=None, help="total size (300; 200 with --one-line)")
    ap.add_argument("--files", type=int, default=700)
    ap.add_argument("--seed", type=int, default=20240601)
    ap.add_argument("--encoding", choices=["cp932", "utf-8"], default="cp932")
    ap.add_argument("--one-line", metavar="FILE", help="write one file holding a single long line")
    args = ap.parse_args()
    check_vocabulary()

    if args.one_line:
        size = args.size_mb or 200
        written = write_one_line(args.one_line, size, args.seed)
        print(f"gen_text_corpus: wrote {args.one_line} ({written / 2**20:.0f} MB, one line)")
        return

    size = args.size_mb or 100
    if size < 1 or args.files < 10:
        sys.exit("gen_text_corpus: need --size-mb >= 1 and --files >= 10")
    out_dir = os.path.abspath(args.out_dir)
    stamp_path = out_dir.rstrip("/") + ".stamp.json"
    params = {"version": GENERATOR_VERSION, "size_mb": size, "files": args.files,
              "seed": args.seed, "encoding": args.encoding}

    stamp = None
    if os.path.exists(stamp_path):
        with open(stamp_path, encoding="utf-8") as f:
            try:
                stamp = json.load(f)
            except json.JSONDecodeError:
                stamp = {}
    if stamp and stamp.get("params") == params and stamp.get("complete") and os.path.isdir(out_dir):
        print(f"gen_text_corpus: {out_dir} is up to date")
        return
    if os.path.isdir(out_dir) and os.listdir(out_dir):
        if stamp is None:
            sys.exit(f"gen_text_corpus: {out_dir} is not empty and was not made by this script; "
                     "refusing to overwrite it")
        shutil.rmtree(out_dir)

    os.makedirs(os.path.dirname(out_dir), exist_ok=True)
    # A stamp marked incomplete first: an interrupted run is regenerated, and its folder is known
    # to be ours.
    with open(stamp_path, "w", encoding="utf-8") as f:
        json.dump({"params": params, "complete": False}, f)
    os.makedirs(out_dir, exist_ok=True)
    started = time.monotonic()
    expected = write_corpus(out_dir, size, args.files, args.seed, args.encoding)
    with open(stamp_path, "w", encoding="utf-8") as f:
        json.dump({"params": params, "complete": True, "expected": expected}, f, indent=1,
                  ensure_ascii=True)
    print(f"gen_text_corpus: wrote {expected['bytes'] / 2**20:.0f} MB in {args.files} files "
          f"to {out_dir} in {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    main()
