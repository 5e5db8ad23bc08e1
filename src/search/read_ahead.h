#pragma once
// Reading ahead: while the thread of the user interface works through the folder walk in its
// order, a walker thread lists the folders ahead of it and worker threads search the files
// whose searchers may run on any thread, each recording what its searcher tells the host. The
// user-interface thread then replays each file's record in walk order, so that hits, progress
// texts, messages and the points where events run are exactly those of a search on one thread.
//
// A stop is taken where the one-thread search would have seen it. A worker may let events run
// a few times in a file (ReadAheadOptions::freeEvents) before that point of its file is
// replayed; after that it waits at each for the replay to tell it whether the user stopped
// there, and stops there itself. A stop seen at one of the first points (or at a message) is
// taken by searching the file again on the user-interface thread with the calls already
// replayed held back and the stop flag set right after the last of them, so that the searcher
// reacts to the stop as it would have (its message, its answer); it reads again no more than
// those first points cover. What the workers found past the stop is dropped. A searcher that
// asks the user a question on a worker, or that finds the file needs the user-interface thread
// (an Office document that only the office can read), is handled the same way: from that point
// on, the file is searched on the user-interface thread.
//
// While the user-interface thread waits for a worker or for the folder walk, it lets events
// run (Host::doEventsWhileWaiting); a stop seen then is taken by the worker at the next point
// where its searcher lets events run, which the replay shows as the point of the stop.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/host.h"
#include "app/settings.h"
#include "search/folder_walk.h"
#include "search/query.h"
#include "search/search_context.h"
#include "search/searcher_registry.h"

namespace ferretta::search {

// One host call of a searcher that ran on a worker.
struct RecordedCall {
    enum class Kind {
        AddResult,
        SetContentColor,
        Caption,
        Progress,
        StatusText,
        DoEvents,
        Message,
        // The searcher asked the user a question; the worker stopped there.
        Question,
        // The file needs the user-interface thread (toUserInterfaceThread); the worker
        // stopped there.
        HandOver,
        FromCache,
        Damaged,
    };
    Kind kind = Kind::DoEvents;
    app::Hit hit;               // AddResult
    std::size_t row = 0;        // SetContentColor: which of the file's rows (0 = its first)
    std::uint32_t color = 0;    // SetContentColor
    std::string text;           // Caption (a path), Progress, StatusText, Message, Damaged (a path)
    std::string reason;         // Damaged
    app::MessageStyle style{};  // Message

    // The bytes the call holds, for the bound on what waits to be replayed.
    std::size_t bytes() const;
};

// Calls handed over from a worker together, with the bytes they hold.
struct RecordedBatch {
    std::vector<RecordedCall> calls;
    std::size_t bytes = 0;
};

struct ReadAheadOptions {
    // Threads that search files ahead. Fewer than 2: no reading ahead at all.
    int workers = 1;
    // Makes the query again for a worker (matchers keep per-call state).
    std::function<std::unique_ptr<Matcher>()> makeMatcher;
    // Replayable calls that may wait in memory at once, in bytes; a worker whose file is not
    // the one being replayed waits while more are waiting. The file being replayed has the
    // same bound of its own.
    std::size_t maxPendingBytes = std::size_t{8} << 20;
    // Walk steps that may be listed ahead of the user-interface thread.
    std::size_t maxStepsAhead = 4096;
    // How many times a searcher on a worker may let events run in a file before the replay has
    // reached that point; past them it waits there for the replay (a stop at one of these is
    // taken by searching the file again up to it).
    std::size_t freeEvents = 16;
    // How long the user-interface thread waits for a worker before it lets events run.
    int waitMilliseconds = 20;
};

// The default number of workers: one per core.
int defaultWorkerCount();

class ReadAhead {
  public:
    // A file searched on a worker; only the user-interface thread's replay looks inside.
    struct Job;

    // Starts the walker and the workers over `top` (ending with a separator). `settings` is
    // copied: the threads ahead decide with the settings as they were when the search began.
    // The registry must outlive this object.
    ReadAhead(std::string top, const app::Settings& settings, const SearcherRegistry& registry,
              ReadAheadOptions options);
    // Stops the threads and drops whatever they found that was not replayed.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next step of the walk, in order (as FolderWalk::next). For a file searched ahead,
    // `job` is set and the file must be finished with replay() before the next step. While it
    // waits for the walk, events run (the context's host); a stop then ends the walk (false).
    bool next(WalkStep& step, Job*& job, const SearchContext& context);

    // Replays the file's record to the context's host (the user-interface thread's), waiting
    // for the worker as needed, and answers the searcher's answer. The searcher's failure is
    // thrown here, after the calls it made before failing. `context` is the one a one-thread
    // search would have given the searcher.
    bool replay(Job& job, const SearchContext& context);

    // Whether the registry has a searcher that may run ahead for a type the settings switch on
    // (otherwise reading ahead would gain nothing).
    static bool worthwhile(const app::Settings& settings, const SearcherRegistry& registry);

  private:
    class JobHost;
    struct Slot {
        WalkStep step;
        std::shared_ptr<Job> job;
    };

    void walkerLoop(std::string top);
    void workerLoop();
    // `counted`: the file's noteFromCache was replayed already.
    bool searchAgain(Job& job, const SearchContext& context, std::size_t replayed,
                     const std::vector<app::Host::RowHandle>& rows, bool counted);
    // Called by a worker's host: hands recorded calls over, waiting while too much waits;
    // with `ended`, the searcher's answer too (the job is done).
    struct Ending {
        bool answer = false;
        std::exception_ptr failure;
    };
    void deliver(Job& job, RecordedBatch& batch, std::size_t bytes, const Ending* ended = nullptr);
    // Called by a worker's host after it handed over the `events`-th doEvents of the job:
    // whether its searcher is to stop there (waiting for the replay past the free ones).
    bool stopAt(Job& job, std::size_t events);
    // The replay's thread waits a while for a change of the job, then lets events run; a stop
    // seen then stops the worker's searcher at its next doEvents.
    void waitForJob(Job& job, const SearchContext& context);
    // Whether the replay waiting for `job` has something to go on with (the mutex held).
    bool replayReady(const Job& job) const;
    // Whether the first `slots` steps listed are no file searched ahead or one that is done or
    // has calls waiting (the mutex held).
    bool allReady(std::size_t slots) const;

    const app::Settings m_settings;
    const SearcherRegistry& m_registry;
    const ReadAheadOptions m_options;

    std::mutex m_mutex;
    // The walker and the workers wait on m_changed, the replay on m_replayChanged; each is
    // woken only by what it waits for (every thread woken at each batch of every file made
    // five thread switches a document).
    std::condition_variable m_changed;
    std::condition_variable m_replayChanged;
    std::size_t m_workersWaiting = 0;  // workers waiting for the replay (its memory or its stop)
    std::size_t m_idleWorkers = 0;     // workers waiting for a file
    bool m_cancelled = false;
    bool m_replayWaiting = false;  // the replay waits in waitForJob
    bool m_walkDone = false;
    std::deque<Slot> m_slots;                      // steps listed and not yet taken by next()
    std::deque<std::shared_ptr<Job>> m_unclaimed;  // jobs no worker has taken yet
    std::shared_ptr<Job> m_current;                // the job being replayed
    std::size_t m_pendingBytes = 0;                // recorded and not yet replayed, over all jobs
    std::vector<std::vector<RecordedCall>> m_spareBatches;  // replayed, for the workers to reuse

    std::vector<std::thread> m_threads;
};

}  // namespace ferretta::search
