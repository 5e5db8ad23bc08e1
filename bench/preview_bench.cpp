// Times the preview pane: from a key that selects a hit to its context shown, through the
// window (offscreen unless QT_QPA_PLATFORM says otherwise).
//  1. A text file of 1 GB (made once in the temporary folder and kept: FERRETTA_BENCH_KEEP=0
//     removes it) with three hits, at its start, its middle and its end, searched through the
//     window; the keys go from hit to hit. The peer is `grep -n -C 5 -m 3` printing the three
//     hits' contexts of the same file, in the same run.
//  2. A search that lists 100,000 hits (2,000 files of 50); Down, Page Down, End and Home
//     move through the list.
// Prints each selection's time (median and worst of the repeats) and the ratio to grep.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTreeView>

#include "app/settings.h"
#include "platform/cp932.h"
#include "ui/main/main_form.h"
#include "ui/main/preview_pane.h"
#include "ui/main/results_model.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A gigabyte of CP932 lines, the marker on three of them.
fs::path bigFile(const fs::path& folder) {
    const fs::path path = folder / "big.txt";
    constexpr std::uintmax_t kSize = std::uintmax_t{1} << 30;
    std::error_code ec;
    if (const std::uintmax_t size = fs::file_size(path, ec); !ec && size >= kSize)
        return path;
    std::ofstream out(path, std::ios::binary);
    const std::string line = ferretta::platform::utf8ToCp932(
        "この行は報告書の本文です。数字 0123456789 と英字 abcdefghij を含みます。\r\n");
    const std::string marker = ferretta::platform::utf8ToCp932("見積書番号 目印 の行です\r\n");
    std::string block;
    while (block.size() < (1u << 20))
        block += line;
    std::uintmax_t written = 0;
    int blocks = 0;
    while (written < kSize) {
        if (blocks == 0 || blocks == 512 || written + block.size() >= kSize) {
            out << marker;
            written += marker.size();
        }
        out << block;
        written += block.size();
        ++blocks;
    }
    return path;
}

void press(int key) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget(), &down);
    QApplication::sendEvent(QApplication::focusWidget(), &up);
}

// Presses the key and waits until the pane shows the context of the row selected; answers the
// milliseconds.
double timeKey(ferretta::ui::main::MainForm& form, int key) {
    const auto start = Clock::now();
    press(key);
    while (!form.previewPane()->isCurrent())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return msSince(start);
}

struct Times {
    std::vector<double> ms;
    double median() {
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0 : ms[ms.size() / 2];
    }
    double worst() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

void searchInWindow(ferretta::ui::main::MainForm& form, const QString& words) {
    form.combo()->setEditText(words);
    form.searchButton()->click();
    form.listView()->setFocus();
}

// grep writing to /dev/null stops at the first match, as -q does: its output goes to a file.
double grepContextMs(const fs::path& file) {
    const std::string command = "LC_ALL=C grep -n -C 5 -m 3 $(printf '\\226\\332\\210\\363') '" +
                                file.string() + "' > '" + file.string() + ".grep'";
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double ms = msSince(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const fs::path root = fs::temp_directory_path() / "ferretta_preview_bench";
    fs::create_directories(root / "big");

    ferretta::app::Settings settings;
    settings.fixed = false;
    settings.preview = true;
    settings.dir = (root / "big").string();
    ferretta::ui::main::MainForm form(settings);
    form.applySettings();
    form.setExitHandler([] {});
    form.stateMachine().matrixCall(ferretta::ui::modes::EventStartUpDone);
    QCoreApplication::processEvents();

    // 1. The gigabyte.
    const fs::path big = bigFile(root / "big");
    auto start = Clock::now();
    searchInWindow(form, QStringLiteral("目印"));
    std::printf("1 GB text file: %d hits, searched in %.0f ms\n", form.model().rowCount(),
                msSince(start));
    Times bigTimes;
    for (int round = 0; round < 5; ++round) {
        for (int key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Up})
            bigTimes.ms.push_back(timeKey(form, key));
    }
    Times grepTimes;
    for (int round = 0; round < 3; ++round)
        grepTimes.ms.push_back(grepContextMs(big));
    const double pane = bigTimes.median();
    const double grep = grepTimes.median();
    std::printf("  pane shown after a key: median %.2f ms, worst %.2f ms (%zu keys)\n", pane,
                bigTimes.worst(), bigTimes.ms.size());
    std::printf("  grep -n -C 5 over the same file: median %.0f ms; ratio grep/pane %.0f\n", grep,
                pane > 0 ? grep / pane : 0);
    fs::remove(big.string() + ".grep");
    if (std::getenv("FERRETTA_BENCH_KEEP") &&
        std::string(std::getenv("FERRETTA_BENCH_KEEP")) == "0")
        fs::remove(big);

    // 2. 100,000 hits.
    const fs::path many = root / "many";
    fs::remove_all(many);
    fs::create_directories(many);
    for (int f = 0; f < 2000; ++f) {
        std::ofstream out(many / ("memo" + std::to_string(f) + ".txt"), std::ios::binary);
        for (int line = 0; line < 50; ++line)
            out << "line " << line << " of a report\r\nthe keyword ferretta, number " << line
                << "\r\n";
    }
    settings.dir = many.string();
    start = Clock::now();
    searchInWindow(form, QStringLiteral("ferretta"));
    std::printf("100,000-hit list: %d hits, searched in %.0f ms\n", form.model().rowCount(),
                msSince(start));
    Times listTimes;
    for (int round = 0; round < 5; ++round) {
        for (int key : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_End, Qt::Key_Up, Qt::Key_Home})
            listTimes.ms.push_back(timeKey(form, key));
    }
    std::printf("  pane shown after a key: median %.2f ms, worst %.2f ms (%zu keys)\n",
                listTimes.median(), listTimes.worst(), listTimes.ms.size());
    fs::remove_all(many);
    return 0;
}
