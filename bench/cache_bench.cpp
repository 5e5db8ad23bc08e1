// The cache's index at scale: stores generated Japanese documents (1 GB of extracted text by
// default) in a fresh cache, then answers words through the trigram index and reports the size
// on disk against the text. With --rg the same text is also written as files and ripgrep's
// time for the same word is printed beside the index's, as a reference.
//
//   cache_bench [--size-mb 1024] [--folder DIR] [--keep] [--rg]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "cache/document_cache.h"

namespace fs = std::filesystem;
using namespace ferretta::cache;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kWords[] = {
    "検索",     "対象",     "会議",     "資料",     "報告",      "予算",     "計画",     "担当",
    "部署",     "営業",     "開発",     "設計",     "品質",      "管理",     "確認",     "変更",
    "追加",     "削除",     "顧客",     "契約",     "請求",      "見積",     "納期",     "工程",
    "試験",     "結果",     "問題",     "対応",     "調査",      "分析",     "社員",     "研修",
    "日程",     "場所",     "東京",     "大阪",     "福岡",      "本社",     "支店",     "事業",
    "売上",     "利益",     "費用",     "申請",     "承認",      "文書",     "保存",     "印刷",
    "送付",     "連絡",     "手順",     "要件",     "機能",      "画面",     "入力",     "出力",
    "設定",     "環境",     "障害",     "保守",     "運用",      "作業",     "完了",     "予定",
    "実績",     "情報",     "ファイル", "フォルダ", "データ",    "システム", "サーバー", "メール",
    "アドレス", "ﾃﾞｰﾀ",     "の",       "を",       "に",        "は",       "が",       "で",
    "と",       "について", "します",   "しました", "です",      "。",       "、",       "「",
    "」",       "ＡＢＣ",   "PDF",      "2024年",   "第3四半期", "No.",      "123",      "Excel"};
// Planted in a known share of the documents.
const char* const kRare = "議事録";

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Business words, and one time in five a run of kanji drawn from JIS level 1 with the
// falling frequencies of real text (the n-th most common about 1/n as often as the first),
// so that the index meets about as many different trigrams as real documents bring.
char32_t commonKanji(std::mt19937& random) {
    static const std::vector<char32_t> kanji = [] {
        std::vector<char32_t> all;
        for (char32_t ch = 0x4E00; ch < 0x9FA0 && all.size() < 3000; ch += 7)
            all.push_back(ch);
        return all;
    }();
    // Inverse of the Zipf distribution's cumulative share, roughly: exp of a uniform draw.
    const double draw = std::uniform_real_distribution<double>(0, std::log(kanji.size()))(random);
    return kanji[static_cast<std::size_t>(std::exp(draw)) - 1];
}

std::string page(std::mt19937& random, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) {
        if (random() % 5 != 0) {
            text += kWords[random() % std::size(kWords)];
            continue;
        }
        for (int i = 0, n = 1 + static_cast<int>(random() % 3); i < n; ++i) {
            const char32_t ch = commonKanji(random);
            text += static_cast<char>(0xE0 | (ch >> 12));
            text += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    return text;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t sizeMb = 1024;
    fs::path folder = fs::temp_directory_path() / "ferretta_cache_bench";
    bool keep = false, withRg = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size-mb" && i + 1 < argc)
            sizeMb = std::stoul(argv[++i]);
        else if (arg == "--folder" && i + 1 < argc)
            folder = argv[++i];
        else if (arg == "--keep")
            keep = true;
        else if (arg == "--rg")
            withRg = true;
        else {
            std::fprintf(stderr,
                         "usage: cache_bench [--size-mb N] [--folder DIR] [--keep] [--rg]\n");
            return 2;
        }
    }
    fs::remove_all(folder);
    fs::create_directories(folder / "text");
    const std::size_t pageBytes = 2000, pagesPerDocument = 50;
    const std::size_t documents = sizeMb * 1'000'000 / (pageBytes * pagesPerDocument);
    std::mt19937 random(20240601);
    std::size_t totalText = 0, planted = 0;
    auto start = Clock::now();
    {
        DocumentCache cache({folder / "cache", std::int64_t{64} << 30, [](std::string_view line) {
                                 std::fprintf(stderr, "cache: %.*s\n",
                                              static_cast<int>(line.size()), line.data());
                             }});
        for (std::size_t d = 0; d < documents; ++d) {
            Extract extract;
            for (std::size_t p = 1; p <= pagesPerDocument; ++p)
                extract.units.push_back(
                    {static_cast<std::int32_t>(p), 0, 0, page(random, pageBytes), ""});
            if (d % 100 == 0) {
                extract.units[d % pagesPerDocument].text += kRare;
                ++planted;
            }
            totalText += textBytes(extract);
            const std::string path = "/bench/doc" + std::to_string(d) + ".pdf";
            if (withRg) {
                std::ofstream out(folder / "text" / ("doc" + std::to_string(d) + ".txt"));
                for (const Unit& unit : extract.units)
                    out << unit.text << '\n';
            }
            cache.store({path, 1, 1, static_cast<std::int64_t>(d + 1)}, "pdf", std::move(extract));
        }
        cache.flush();
    }
    const double storeSeconds = secondsSince(start);

    DocumentCache cache({folder / "cache", std::int64_t{64} << 30, {}});
    const auto stats = cache.stats();
    std::printf("documents            %zu\n", documents);
    std::printf("extracted text       %.1f MB\n", static_cast<double>(totalText) / 1e6);
    std::printf("cache on disk        %.1f MB (%.2fx the text; target <= 1.5x)\n",
                static_cast<double>(stats.fileBytes) / 1e6,
                static_cast<double>(stats.fileBytes) / static_cast<double>(totalText));
    std::printf("storing              %.1f s (%.1f MB/s)\n", storeSeconds,
                static_cast<double>(totalText) / 1e6 / storeSeconds);

    const struct {
        const char* label;
        IndexQuery query;
    } queries[] = {
        {"3 characters, rare", {{kRare}, false}},
        {"3 characters, common", {{"について"}, false}},
        {"AND of two words", {{"議事録", "ファイル"}, true}},
    };
    double rareSeconds = 0;
    for (const auto& q : queries) {
        std::vector<double> times;
        std::size_t through = 0;
        for (int run = 0; run < 5; ++run) {
            start = Clock::now();
            const Candidates candidates = cache.candidates(q.query);
            times.push_back(secondsSince(start));
            through = 0;
            for (std::size_t d = 0; d < documents; ++d)
                through += candidates.mayMatch(static_cast<std::int64_t>(d + 1)) ? 1 : 0;
        }
        if (rareSeconds == 0)
            rareSeconds = median(times);
        std::printf("index: %-22s %7.1f ms, %zu of %zu documents let through\n", q.label,
                    median(times) * 1e3, through, documents);
    }
    std::printf("planted %s in %zu documents; target for a 3-character word: < 200 ms\n", kRare,
                planted);
    if (withRg) {
        std::vector<double> times;
        for (int run = 0; run < 3; ++run) {
            start = Clock::now();
            const std::string command = "rg -l -F " + std::string(kRare) + " " +
                                        (folder / "text").string() + " > /dev/null";
            if (std::system(command.c_str()) == -1)
                return 2;
            times.push_back(secondsSince(start));
        }
        std::printf("rg -l %s over the same text as files: %.1f ms (index / rg = %.3f)\n", kRare,
                    median(times) * 1e3, rareSeconds / median(times));
    }
    if (!keep)
        fs::remove_all(folder);
    return 0;
}
