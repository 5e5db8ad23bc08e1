// Times the results list with 100,000 hits: adding them while sorting is off, sorting by each
// column, and adding them again with sorting on; once on the bare model and once with a tree
// view showing it (offscreen unless QT_QPA_PLATFORM says otherwise), letting events run every
// 50 ms as a search does. Then a real search through the window that finds 100,000 hits in
// text files, timing the longest stretch without events running. Prints the times and the
// peak memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <filesystem>
#include <fstream>

#include "app/settings.h"
#include "ui/main/main_form.h"
#include "ui/main/results_model.h"

namespace {

using ferretta::app::Hit;
using ferretta::ui::main::ResultsModel;

constexpr int kRows = 100'000;

// Hits as a text search of a large folder reports them: 50 hits a file, a Japanese line of
// content, a path and "line,column"; every 20th is a blue file-name hit.
std::vector<Hit> makeHits() {
    std::mt19937 random(20240601);
    const std::vector<std::string> words = {"検索", "結果", "ファイル", "設定",    "報告書",
                                            "会議", "予定", "Ferretta", "keyword", "データ"};
    std::vector<Hit> hits;
    hits.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        const int file = static_cast<int>(random() % (kRows / 50));
        std::string content;
        for (int w = 0; w < 12; ++w) {
            content += words[random() % words.size()];
            content += ' ';
        }
        const std::string name = "file" + std::to_string(file) + ".txt";
        Hit hit{ferretta::app::FileType::Text, name, content,
                "/home/user/docs/dir" + std::to_string(file % 97) + "/" + name,
                std::to_string(random() % 5000 + 1) + "," + std::to_string(random() % 80 + 1)};
        if (i % 20 == 0) {
            hit.content = "(ファイル名にヒット)";
            hit.position.clear();
        }
        hits.push_back(std::move(hit));
    }
    return hits;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Adds the hits as a search reports them; with a view, events run every 50 ms as the search's
// doEvents lets them.
void addAll(ResultsModel& model, const std::vector<Hit>& hits, bool letEventsRun) {
    auto lastEvents = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const std::size_t handle = model.addResult(hits[i]);
        if (i % 20 == 0) {
            model.setContentColor(handle, QColor(0, 0, 255));
        }
        if (letEventsRun && i % 64 == 0 && secondsSince(lastEvents) >= 0.05) {
            QCoreApplication::processEvents();
            lastEvents = std::chrono::steady_clock::now();
        }
    }
    if (letEventsRun) {
        QCoreApplication::processEvents();
    }
}

void run(const char* title, const std::vector<Hit>& hits, bool withView) {
    auto model = std::make_unique<ResultsModel>();
    std::unique_ptr<QTreeView> view;
    if (withView) {
        view = std::make_unique<QTreeView>();
        view->setRootIsDecorated(false);
        view->setUniformRowHeights(true);
        view->setModel(model.get());
        view->resize(900, 600);
        view->show();
        QCoreApplication::processEvents();
    }
    std::printf("%s\n", title);

    auto start = std::chrono::steady_clock::now();
    addAll(*model, hits, withView);
    std::printf("  add %d rows, sorting off:   %7.3f s\n", kRows, secondsSince(start));

    // Each click on a new column sorts ascending; the first on column 0 sorts descending.
    for (int column = 0; column < 4; ++column) {
        start = std::chrono::steady_clock::now();
        model->columnClicked(column);
        if (withView) {
            QCoreApplication::processEvents();
        }
        std::printf("  sort by column %d (%s):  %7.3f s\n", column,
                    model->sortOrder() == Qt::AscendingOrder ? "asc " : "desc",
                    secondsSince(start));
    }

    // A new search while the list is sorted by content: every row goes to its sorted place.
    model->columnClicked(1);
    start = std::chrono::steady_clock::now();
    model->clear();
    std::printf("  clear:                       %7.3f s\n", secondsSince(start));
    start = std::chrono::steady_clock::now();
    addAll(*model, hits, withView);
    std::printf("  add %d rows, sorted (col 1): %6.3f s\n", kRows, secondsSince(start));
    model->columnClicked(0);
    start = std::chrono::steady_clock::now();
    model->clear();
    addAll(*model, hits, withView);
    std::printf("  add %d rows, sorted (col 0): %6.3f s\n", kRows, secondsSince(start));
}

double peakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// 200 files of 500 matching lines (and as many others) in a temporary folder, searched through
// the window as a user does. A 1 ms timer stands for the user's input: the longest gap between
// two of its ticks is the longest time the window did not answer.
void searchThroughTheWindow(int workers) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "ferretta_gui_bench";
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (int f = 0; f < 200; ++f) {
        std::ofstream out(folder / ("memo" + std::to_string(f) + ".txt"), std::ios::binary);
        for (int line = 0; line < 500; ++line) {
            out << "line " << line << " of a plain report without the word\r\n";
            out << "the keyword ferretta appears here, number " << line << "\r\n";
        }
    }
    ferretta::app::Settings settings;
    settings.dir = folder.string();
    settings.fixed = false;
    settings.workers = workers;
    ferretta::ui::main::MainForm form(settings);
    form.applySettings();
    form.setExitHandler([] {});
    form.stateMachine().matrixCall(ferretta::ui::modes::EventStartUpDone);
    QCoreApplication::processEvents();

    using Clock = std::chrono::steady_clock;
    Clock::time_point lastTick = Clock::now();
    double longestGap = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        if (form.flags().isSearching)
            longestGap =
                std::max(longestGap, std::chrono::duration<double>(now - lastTick).count());
        lastTick = now;
    });
    ticker.start();
    form.combo()->setEditText(QStringLiteral("ferretta"));
    const auto start = Clock::now();
    lastTick = start;
    form.searchButton()->click();
    const double total = secondsSince(start);
    std::printf("search through the window (%d workers; 0: one per core)\n", workers);
    std::printf("  %d hits in %.3f s; longest stretch without events: %.0f ms\n",
                form.model().rowCount(), total, longestGap * 1000);
    std::printf("  peak RSS so far: %.1f MB\n", peakRssMb());
    fs::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    // The real search first, so that its peak memory is its own. --workers=N: the threads
    // that search ahead (the settings' Workers); --search: only this search.
    int workers = 0;
    bool searchOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--search")
            searchOnly = true;
        else if (arg.rfind("--workers=", 0) == 0)
            workers = std::atoi(arg.c_str() + 10);
    }
    searchThroughTheWindow(workers);
    if (searchOnly)
        return 0;
    const std::vector<Hit> hits = makeHits();
    run("model only", hits, false);
    run("model shown in a QTreeView", hits, true);
    std::printf("peak RSS: %.1f MB\n", peakRssMb());
    return 0;
}
