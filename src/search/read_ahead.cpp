#include "search/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "search/file_dispatch.h"

namespace ferretta::search {

namespace {

// A worker hands its calls over in batches of about this size, or at each doEvents.
constexpr std::size_t kBatchCalls = 256;
constexpr std::size_t kBatchBytes = std::size_t{256} << 10;
// Most files make a few calls: a batch starts this small and grows as calls come.
constexpr std::size_t kFirstBatchCalls = 8;
// How many files after the one replayed the replay waits for, once that one is done.
constexpr std::size_t kReplayAhead = 8;
// Emptied batches kept for the workers to fill again.
constexpr std::size_t kSpareBatches = 8;
// More workers gain nothing on the machines this runs on and only multiply the memory each
// one reads with.
constexpr int kMaxWorkers = 8;

}  // namespace

std::size_t RecordedCall::bytes() const {
    return sizeof(RecordedCall) + hit.name.size() + hit.content.size() + hit.location.size() +
           hit.position.size() + text.size() + reason.size();
}

int defaultWorkerCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, static_cast<unsigned>(kMaxWorkers)));
}

struct ReadAhead::Job {
    std::string path;
    app::FileType type = app::FileType::Unknown;
    // Guarded by the owner's mutex.
    std::deque<RecordedBatch> batches;  // recorded and not yet taken by the replay
    std::size_t pendingBytes = 0;
    std::size_t eventsReplayed = 0;  // doEvents calls the replay has made
    bool stopped = false;            // the user stopped: the searcher stops at its next doEvents
    bool abandoned = false;          // the file is searched again, or the search ended
    bool done = false;
    bool answer = false;
    std::exception_ptr failure;
};

// The host of a worker's searcher: records every call for the job it works on.
class ReadAhead::JobHost : public app::Host {
  public:
    JobHost(ReadAhead& owner, SearchFlags& flags) : m_owner(owner), m_flags(flags) {}

    void begin(Job& job) {
        m_job = &job;
        m_rows = 0;
        m_events = 0;
        m_asked = false;
    }
    // The job ends with the searcher's answer: what waits is handed over with it.
    void finish(bool answer, std::exception_ptr failure) {
        const Ending ended{answer, std::move(failure)};
        m_owner.deliver(*m_job, m_buffer, m_bytes, &ended);
        m_buffer.calls.clear();
        m_bytes = 0;
    }

    RowHandle addResult(const app::Hit& hit) override { return takeResult(app::Hit(hit)); }
    RowHandle takeResult(app::Hit&& hit) override {
        RecordedCall call;
        call.kind = RecordedCall::Kind::AddResult;
        call.hit = std::move(hit);
        record(std::move(call));
        return m_rows++;
    }
    void setContentColor(RowHandle row, std::uint32_t color) override {
        RecordedCall call;
        call.kind = RecordedCall::Kind::SetContentColor;
        call.row = row;
        call.color = color;
        record(std::move(call));
    }
    void setCaptionOnSearching(std::string_view path) override {
        recordText(RecordedCall::Kind::Caption, path);
    }
    void showProgress(std::string_view text) override {
        recordText(RecordedCall::Kind::Progress, text);
    }
    void setStatusText(std::string_view text) override {
        recordText(RecordedCall::Kind::StatusText, text);
    }
    void noteFromCache() override { recordText(RecordedCall::Kind::FromCache, {}); }
    void noteDamaged(std::string_view path, std::string_view reason) override {
        recordText(RecordedCall::Kind::Damaged, path, reason);
    }
    void doEvents() override {
        RecordedCall call;
        call.kind = RecordedCall::Kind::DoEvents;
        record(std::move(call));
        flush();
        // The searcher stops where the user stopped, and when the search ends.
        if (!m_asked && m_owner.stopAt(*m_job, ++m_events))
            m_flags.isAbort = true;
    }
    void showMessage(std::string_view text, app::MessageStyle style) override {
        RecordedCall call;
        call.kind = RecordedCall::Kind::Message;
        call.text = text;
        call.style = style;
        record(std::move(call));
    }
    bool askYesNo(std::string_view, app::MessageStyle) override {
        // Only the user can answer: the file goes on on the user-interface thread from here,
        // and this searcher is stopped.
        handOver(RecordedCall::Kind::Question);
        return false;
    }
    void handOver(RecordedCall::Kind kind) {
        RecordedCall call;
        call.kind = kind;
        record(std::move(call));
        flush();
        m_asked = true;
        m_flags.isAbort = true;
    }

  private:
    void recordText(RecordedCall::Kind kind, std::string_view text, std::string_view reason = {}) {
        RecordedCall call;
        call.kind = kind;
        call.text = text;
        call.reason = reason;
        record(std::move(call));
    }
    void record(RecordedCall&& call) {
        if (m_asked)
            return;  // what a searcher stopped by its question does is not the real search
        if (m_buffer.calls.capacity() == 0)
            m_buffer.calls.reserve(kFirstBatchCalls);
        m_bytes += call.bytes();
        m_buffer.calls.push_back(std::move(call));
        if (m_buffer.calls.size() >= kBatchCalls || m_bytes >= kBatchBytes)
            flush();
    }
    void flush() {
        if (m_buffer.calls.empty())
            return;
        m_owner.deliver(*m_job, m_buffer, m_bytes);
        m_buffer.calls.clear();
        m_bytes = 0;
    }

    ReadAhead& m_owner;
    SearchFlags& m_flags;
    Job* m_job = nullptr;
    RowHandle m_rows = 0;
    std::size_t m_events = 0;  // doEvents calls in the job so far
    bool m_asked = false;
    RecordedBatch m_buffer;
    std::size_t m_bytes = 0;
};

namespace {

// The host of a file searched again on the user-interface thread after part of its record was
// replayed: the first `skip` calls were shown already and are held back (their rows answered
// as they were then); the stop flag the searcher sees takes the real one's value from the last
// of them on, and every later call goes to the real host.
class ResumeHost : public app::Host {
  public:
    ResumeHost(app::Host& real, std::size_t skip, const std::vector<RowHandle>& rows,
               SearchFlags& own, const SearchFlags& realFlags, bool counted)
        : m_real(real),
          m_skip(skip),
          m_rows(rows),
          m_own(own),
          m_realFlags(realFlags),
          m_counted(counted) {
        if (m_skip == 0)
            m_own.isAbort = m_realFlags.isAbort;
    }

    RowHandle addResult(const app::Hit& hit) override {
        if (held()) {
            const RowHandle row = m_heldRows < m_rows.size() ? m_rows[m_heldRows] : 0;
            ++m_heldRows;
            return after(row);
        }
        return after(m_real.addResult(hit));
    }
    void setContentColor(RowHandle row, std::uint32_t color) override {
        if (!held())
            m_real.setContentColor(row, color);
        after();
    }
    void setCaptionOnSearching(std::string_view path) override {
        if (!held())
            m_real.setCaptionOnSearching(path);
        after();
    }
    void showProgress(std::string_view text) override {
        if (!held())
            m_real.showProgress(text);
        after();
    }
    void setStatusText(std::string_view text) override {
        if (!held())
            m_real.setStatusText(text);
        after();
    }
    // Not one of the calls held back by position: the file searched again may come from the
    // cache where the worker read it (its reading was kept meanwhile). It counts once.
    void noteFromCache() override {
        if (!m_counted)
            m_real.noteFromCache();
        m_counted = true;
    }
    void doEvents() override {
        if (!held())
            m_real.doEvents();
        after();
    }
    void showMessage(std::string_view text, app::MessageStyle style) override {
        if (!held())
            m_real.showMessage(text, style);
        after();
    }
    bool askYesNo(std::string_view text, app::MessageStyle style) override {
        const bool answer = held() ? false : m_real.askYesNo(text, style);
        return after(answer);
    }
    void noteUnreadable(std::string_view path, std::string_view reason) override {
        m_real.noteUnreadable(path, reason);
    }
    void noteDamaged(std::string_view path, std::string_view reason) override {
        m_real.noteDamaged(path, reason);
    }

  private:
    bool held() { return ++m_calls <= m_skip; }
    template <typename T = int>
    T after(T value = {}) {
        if (m_calls >= m_skip)
            m_own.isAbort = m_own.isAbort || m_realFlags.isAbort;
        return value;
    }

    app::Host& m_real;
    const std::size_t m_skip;
    const std::vector<RowHandle>& m_rows;
    SearchFlags& m_own;
    const SearchFlags& m_realFlags;
    std::size_t m_calls = 0;
    std::size_t m_heldRows = 0;
    bool m_counted;  // the file's noteFromCache was replayed already
};

}  // namespace

ReadAhead::ReadAhead(std::string top, const app::Settings& settings,
                     const SearcherRegistry& registry, ReadAheadOptions options)
    : m_settings(settings), m_registry(registry), m_options(std::move(options)) {
    const int workers = std::clamp(m_options.workers, 1, kMaxWorkers);
    m_threads.emplace_back([this, top = std::move(top)] { walkerLoop(top); });
    for (int i = 0; i < workers; ++i)
        m_threads.emplace_back([this] { workerLoop(); });
}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_changed.notify_all();
    m_replayChanged.notify_all();
    for (auto& thread : m_threads)
        thread.join();
}

bool ReadAhead::worthwhile(const app::Settings& settings, const SearcherRegistry& registry) {
    if (settings.fileNameOnly)
        return false;
    for (int slot = 0; slot < app::fileTypeSlots; ++slot) {
        const auto type = static_cast<app::FileType>(slot);
        const SearcherRegistry::FileEntry* entry = registry.fileSearcher(type);
        if (entry != nullptr && entry->threads == SearcherRegistry::Threads::Any &&
            settings.fileTypes.isTarget(type)) {
            return true;
        }
    }
    return false;
}

void ReadAhead::walkerLoop(std::string top) {
    FolderWalk walk(std::move(top), walkRulesFor(m_settings));
    WalkStep step;
    while (walk.next(step)) {
        std::shared_ptr<Job> job;
        if (step.kind == WalkStep::Kind::File) {
            const app::FileType type = searchedTypeOf(step.path, m_settings, m_registry);
            const SearcherRegistry::FileEntry* entry = m_registry.fileSearcher(type);
            if (type != app::FileType::Unknown && entry != nullptr &&
                entry->threads == SearcherRegistry::Threads::Any) {
                job = std::make_shared<Job>();
                job->path = step.path;
                job->type = type;
            }
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock,
                       [this] { return m_cancelled || m_slots.size() < m_options.maxStepsAhead; });
        if (m_cancelled)
            return;
        const bool forWorkers = job != nullptr && m_idleWorkers > 0;
        if (job)
            m_unclaimed.push_back(job);
        m_slots.push_back({std::move(step), std::move(job)});
        lock.unlock();
        if (forWorkers)
            m_changed.notify_all();
        m_replayChanged.notify_one();
    }
    {
        const std::lock_guard lock(m_mutex);
        m_walkDone = true;
    }
    m_changed.notify_all();
    m_replayChanged.notify_all();
}

void ReadAhead::workerLoop() {
    SearchFlags flags;
    flags.isSearching = true;
    const std::unique_ptr<Matcher> matcher = m_options.makeMatcher();
    JobHost host(*this, flags);
    const SearchContext context{host, m_settings, *matcher, flags,
                                [&host] { host.handOver(RecordedCall::Kind::HandOver); }};
    FileDispatch dispatch(context, m_registry);
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            ++m_idleWorkers;
            m_changed.wait(lock,
                           [this] { return m_cancelled || !m_unclaimed.empty() || m_walkDone; });
            --m_idleWorkers;
            if (m_cancelled || m_unclaimed.empty())
                return;
            job = std::move(m_unclaimed.front());
            m_unclaimed.pop_front();
        }
        flags.isAbort = false;
        host.begin(*job);
        bool answer = false;
        std::exception_ptr failure;
        try {
            answer = dispatch.search(job->type, job->path);
        } catch (...) {
            // Not handled here: the replay throws it again on the user-interface thread, at
            // the point where the search met it.
            failure = std::current_exception();
        }
        host.finish(answer, std::move(failure));
    }
}

void ReadAhead::deliver(Job& job, RecordedBatch& batch, std::size_t bytes, const Ending* ended) {
    std::unique_lock lock(m_mutex);
    // The file being replayed waits only for its own calls, which the replay takes; any other
    // waits while too much waits in all. Neither waits for the other, so nothing stalls.
    const auto room = [&] {
        if (m_cancelled || job.abandoned || batch.calls.empty())
            return true;
        const std::size_t waiting = m_current.get() == &job ? job.pendingBytes : m_pendingBytes;
        return waiting == 0 || waiting < m_options.maxPendingBytes;
    };
    if (!room()) {
        ++m_workersWaiting;
        if (m_replayWaiting)
            m_replayChanged.notify_one();
        m_changed.wait(lock, room);
        --m_workersWaiting;
    }
    if (!m_cancelled && !job.abandoned && !batch.calls.empty()) {
        // The batch is handed over whole: one allocation and one lock for all its calls.
        batch.bytes = bytes;
        job.batches.push_back(std::move(batch));
        batch.calls.clear();
        if (!m_spareBatches.empty()) {
            batch.calls = std::move(m_spareBatches.back());
            m_spareBatches.pop_back();
        }
        job.pendingBytes += bytes;
        m_pendingBytes += bytes;
    }
    if (ended != nullptr) {
        job.answer = ended->answer;
        job.failure = ended->failure;
        job.done = true;
    }
    // The replay waits for the file it replays (and, once that is done, for the files after
    // it): woken only when it can go on.
    const bool wake = m_replayWaiting && m_current && replayReady(*m_current);
    lock.unlock();
    if (wake)
        m_replayChanged.notify_one();
}

bool ReadAhead::replayReady(const Job& job) const {
    if (!job.done)
        return !job.batches.empty();
    // Done: replayed at once when nothing is to be gained by waiting (a worker waits for the
    // replay, or the walk lists too slowly), else when the files after it are ready too, so
    // that the replay is woken once for a run of small files rather than for each of them.
    if (m_cancelled || m_workersWaiting > 0)
        return true;
    if (m_slots.size() < kReplayAhead)
        return m_walkDone ? allReady(m_slots.size()) : true;
    return allReady(kReplayAhead);
}

bool ReadAhead::allReady(std::size_t slots) const {
    for (std::size_t i = 0; i < slots; ++i) {
        const Job* next = m_slots[i].job.get();
        if (next != nullptr && !next->done && next->batches.empty())
            return false;
    }
    return true;
}

bool ReadAhead::stopAt(Job& job, std::size_t events) {
    std::unique_lock lock(m_mutex);
    if (events > m_options.freeEvents) {
        ++m_workersWaiting;
        if (m_replayWaiting)
            m_replayChanged.notify_one();
        m_changed.wait(lock, [&] {
            return m_cancelled || job.abandoned || job.stopped || job.eventsReplayed >= events;
        });
        --m_workersWaiting;
    }
    return m_cancelled || job.abandoned || job.stopped;
}

void ReadAhead::waitForJob(Job& job, const SearchContext& context) {
    std::unique_lock lock(m_mutex);
    m_replayWaiting = true;
    const bool ready =
        m_replayChanged.wait_for(lock, std::chrono::milliseconds(m_options.waitMilliseconds),
                                 [&] { return replayReady(job); });
    m_replayWaiting = false;
    if (ready)
        return;
    lock.unlock();
    const bool stoppedBefore = context.flags.isAbort;
    context.host.doEventsWhileWaiting();
    if (stoppedBefore || !context.flags.isAbort)
        return;
    // The searcher on the worker stops at its next doEvents, which the replay then shows as
    // the point where the user stopped.
    lock.lock();
    job.stopped = true;
    lock.unlock();
    m_changed.notify_all();
}

bool ReadAhead::next(WalkStep& step, Job*& job, const SearchContext& context) {
    std::unique_lock lock(m_mutex);
    m_current.reset();
    while (!m_replayChanged.wait_for(
        lock, std::chrono::milliseconds(m_options.waitMilliseconds),
        [this] { return m_cancelled || !m_slots.empty() || m_walkDone; })) {
        lock.unlock();
        context.host.doEventsWhileWaiting();
        lock.lock();
        if (context.flags.isAbort)
            return false;
    }
    if (m_slots.empty())
        return false;
    // The walker waits while the steps ahead are at their bound; a worker waiting to hand
    // over the calls of this file may go on once it is the one replayed.
    const bool othersWait = m_slots.size() >= m_options.maxStepsAhead || m_workersWaiting > 0;
    Slot slot = std::move(m_slots.front());
    m_slots.pop_front();
    m_current = slot.job;
    lock.unlock();
    if (othersWait)
        m_changed.notify_all();
    step = std::move(slot.step);
    job = slot.job.get();
    return true;
}

bool ReadAhead::replay(Job& job, const SearchContext& context) {
    std::vector<app::Host::RowHandle> rows;
    std::size_t replayed = 0;
    std::size_t events = 0;
    bool counted = false;
    app::Host& host = context.host;
    // The batch being replayed: taken whole, so that the lock is held once for all its calls
    // (its bytes stop counting against the bound when it is taken).
    RecordedBatch batch;
    std::size_t next = 0;
    for (;;) {
        if (next == batch.calls.size()) {
            batch.calls.clear();
            next = 0;
            bool workersWaiting = false;
            {
                std::unique_lock lock(m_mutex);
                if (job.batches.empty() && !job.done) {
                    lock.unlock();
                    waitForJob(job, context);
                    continue;
                }
                if (job.batches.empty())
                    break;
                // The storage of the batch replayed goes back to the workers rather than being
                // freed here and allocated there again for the next file.
                if (batch.calls.capacity() > 0 && m_spareBatches.size() < kSpareBatches)
                    m_spareBatches.push_back(std::move(batch.calls));
                batch = std::move(job.batches.front());
                job.batches.pop_front();
                job.pendingBytes -= batch.bytes;
                m_pendingBytes -= batch.bytes;
                workersWaiting = m_workersWaiting > 0;
            }
            if (workersWaiting)
                m_changed.notify_all();
            continue;
        }
        const RecordedCall& call = batch.calls[next++];
        if (call.kind == RecordedCall::Kind::Question || call.kind == RecordedCall::Kind::HandOver)
            return searchAgain(job, context, replayed, rows, counted);
        const bool stoppedBefore = context.flags.isAbort;
        switch (call.kind) {
            case RecordedCall::Kind::AddResult:
                rows.push_back(host.addResult(call.hit));
                break;
            case RecordedCall::Kind::SetContentColor:
                if (call.row < rows.size())
                    host.setContentColor(rows[call.row], call.color);
                break;
            case RecordedCall::Kind::Caption:
                host.setCaptionOnSearching(call.text);
                break;
            case RecordedCall::Kind::Progress:
                host.showProgress(call.text);
                break;
            case RecordedCall::Kind::StatusText:
                host.setStatusText(call.text);
                break;
            case RecordedCall::Kind::DoEvents:
                host.doEvents();
                ++events;
                break;
            case RecordedCall::Kind::Message:
                host.showMessage(call.text, call.style);
                break;
            case RecordedCall::Kind::FromCache:
                host.noteFromCache();
                counted = true;
                continue;  // not a call the search again holds back by position
            case RecordedCall::Kind::Damaged:
                host.noteDamaged(call.text, call.reason);
                continue;  // the file's last call: a search again never gets past it
            case RecordedCall::Kind::Question:
            case RecordedCall::Kind::HandOver:
                break;
        }
        ++replayed;
        const bool stoppedHere = !stoppedBefore && context.flags.isAbort;
        if (call.kind == RecordedCall::Kind::DoEvents) {
            // Past the free points the worker waits here to learn whether to stop.
            if (stoppedHere && events <= m_options.freeEvents)
                return searchAgain(job, context, replayed, rows, counted);
            {
                const std::lock_guard lock(m_mutex);
                job.eventsReplayed = events;
                job.stopped = job.stopped || stoppedHere;
            }
            m_changed.notify_all();
        } else if (stoppedHere) {
            return searchAgain(job, context, replayed, rows, counted);
        }
    }
    if (job.failure)
        std::rethrow_exception(job.failure);
    return job.answer;
}

bool ReadAhead::searchAgain(Job& job, const SearchContext& context, std::size_t replayed,
                            const std::vector<app::Host::RowHandle>& rows, bool counted) {
    {
        // The worker's searcher stops (a worker waiting at a doEvents goes on) and what it
        // still records is dropped.
        const std::lock_guard lock(m_mutex);
        job.abandoned = true;
    }
    m_changed.notify_all();
    SearchFlags flags = context.flags;
    flags.isAbort = false;
    ResumeHost host(context.host, replayed, rows, flags, context.flags, counted);
    // The settings the worker searched with, so that the calls held back are the same.
    const SearchContext again{host, m_settings, context.matcher, flags};
    FileDispatch dispatch(again, m_registry);
    return dispatch.search(job.type, job.path);
}

}  // namespace ferretta::search
