#include "run/run_safety.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/restore_journal.h"
#include "platform/work_folder.h"

namespace ferretta::run {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::atomic<bool> received{false};
std::atomic<bool> installed{false};
// The self-pipe: the handler writes one byte to [1]; an event loop watches [0].
int wakeUp[2] = {-1, -1};

static_assert(std::atomic<bool>::is_always_lock_free, "the handler needs lock-free flags");

void onStopSignal(int signal) {
    const int savedErrno = errno;
    if (received.exchange(true)) {
        // The second one: the default action now (the program ends).
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
        ::raise(signal);
    } else if (wakeUp[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wakeUp[1], &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

void installStopSignals() {
    if (installed.exchange(true))
        return;
    if (::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
        wakeUp[0] = wakeUp[1] = -1;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kStopSignals)
        sigaddset(&action.sa_mask, signal);
    // Interrupted system calls go on: the stop is seen at the next look at the flag.
    action.sa_flags = SA_RESTART;
    for (const int signal : kStopSignals)
        ::sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

bool stopSignalReceived() {
    return received.load();
}

int stopSignalDescriptor() {
    return wakeUp[0];
}

std::function<bool()> officeKeepWaiting(app::Host& host, const search::SearchFlags& flags) {
    return [&host, &flags] {
        host.doEvents();
        return !(flags.isSearching && flags.isAbort);
    };
}

std::vector<std::string> prepareRun() {
    installStopSignals();
    platform::removeStaleWorkFolders(platform::workFolderParent());
    std::vector<std::string> messages;
    for (const auto& problem : platform::replayRestoreJournal(platform::restoreJournalFolder())) {
        messages.push_back("一時的に移動したファイルを元に戻せませんでした\r" +
                           problem.entry.aside + " → " + problem.entry.original + "\r" +
                           problem.reason);
    }
    return messages;
}

}  // namespace ferretta::run
