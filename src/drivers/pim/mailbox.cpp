#include "drivers/pim/mailbox.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "drivers/pim/mail_message.h"
#include "platform/error.h"

namespace ferretta::platform::pim {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBlockSize = 1u << 20;
// Enough of a long line to tell whether it is a "From " line.
constexpr std::size_t kLineHead = 1024;
// A message larger than this is not copied out for a viewer.
constexpr std::int64_t kLargestCopiedMessage = std::int64_t{1} << 30;
constexpr std::string_view kPlace = "outlook::mailbox";
constexpr const char* kNotAMessage = "メールとして読めません";

// A regular file opened for reading. The open never blocks (a FIFO put where a mailbox or a
// message was looked for would wait for a writer for ever) and anything but a regular file is
// refused; problem() says why there is no descriptor.
class FileDescriptor {
  public:
    explicit FileDescriptor(const fs::path& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {
        m_error = m_fd < 0 ? errno : 0;
        struct stat status {};
        if (m_fd >= 0 && (::fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode))) {
            ::close(m_fd);
            m_fd = -1;
            m_error = kNotRegular;
        }
    }
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    std::string problem() const {
        return m_error == kNotRegular ? "通常のファイルではありません" : std::strerror(m_error);
    }

  private:
    static constexpr int kNotRegular = -1;
    int m_fd;
    int m_error = 0;
};

// "size:mtime" of the file this code was loaded from (the module, or the program it is linked
// into): the mail it reads is kept no longer than the reader stays the same.
const std::string& readerStamp() {
    static const char marker = 0;
    static const std::string stamp = [] {
        Dl_info info{};
        struct stat status {};
        if (::dladdr(&marker, &info) == 0 || info.dli_fname == nullptr ||
            ::stat(info.dli_fname, &status) != 0)
            return std::string("-");
        return std::to_string(status.st_size) + ":" + std::to_string(status.st_mtim.tv_sec) + "." +
               std::to_string(status.st_mtim.tv_nsec);
    }();
    return stamp;
}

bool hasWord(std::string_view line, std::initializer_list<std::string_view> words) {
    return std::any_of(words.begin(), words.end(), [&](std::string_view word) {
        for (std::size_t at = line.find(word); at != std::string_view::npos;
             at = line.find(word, at + 1)) {
            const bool startOk = at == 0 || line[at - 1] == ' ';
            const std::size_t end = at + word.size();
            const bool endOk = end == line.size() || line[end] == ' ' || line[end] == ',';
            if (startOk && endOk)
                return true;
        }
        return false;
    });
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool hasTime(std::string_view line) {
    for (std::size_t i = 0; i + 5 <= line.size(); ++i) {
        if (isDigit(line[i]) && isDigit(line[i + 1]) && line[i + 2] == ':' &&
            isDigit(line[i + 3]) && isDigit(line[i + 4]))
            return true;
    }
    return false;
}

bool hasYear(std::string_view line) {
    for (std::size_t i = 0; i + 4 <= line.size(); ++i) {
        const bool bounded = (i == 0 || line[i - 1] == ' ') &&
                             (i + 4 == line.size() || line[i + 4] == ' ' || line[i + 4] == '\r');
        if (bounded && (line.substr(i, 2) == "19" || line.substr(i, 2) == "20") &&
            isDigit(line[i + 2]) && isDigit(line[i + 3]))
            return true;
    }
    return false;
}

std::string uniqueMaildirName(std::string_view fileName) {
    return std::string(fileName.substr(0, fileName.find_first_of(":!")));
}

// Delivery order: the seconds that start a Maildir name, then the name itself.
bool deliveredBefore(const std::string& a, const std::string& b) {
    const auto number = [](const std::string& name) {
        std::size_t digits = 0;
        while (digits < name.size() && digits < 18 && isDigit(name[digits]))
            ++digits;
        return digits == 0 ? -1 : std::stoll(name.substr(0, digits));
    };
    const long long na = number(a);
    const long long nb = number(b);
    return na != nb ? na < nb : a < b;
}

// Message files named by numbers (MH) sort by number; others by name.
bool numberedBefore(const std::string& a, const std::string& b) {
    const bool da = !a.empty() && std::all_of(a.begin(), a.end(), isDigit);
    const bool db = !b.empty() && std::all_of(b.begin(), b.end(), isDigit);
    if (da && db && a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

Item itemOf(MailMessage&& mail, ItemRef ref, bool mbox) {
    Item item;
    item.ref = std::move(ref);
    item.ref.check = mail.messageId.empty() ? "digest:" + mail.headDigest : mail.messageId;
    item.subject = std::move(mail.subject);
    item.body = mbox ? unescapeMboxFromLines(mail.body) : std::move(mail.body);
    item.senderName = std::move(mail.senderName);
    item.to = std::move(mail.to);
    item.cc = std::move(mail.cc);
    item.categories = std::move(mail.categories);
    return item;
}

std::string identityOf(const MailMessage& mail) {
    return mail.messageId.empty() ? "digest:" + mail.headDigest : mail.messageId;
}

std::vector<std::string> listFiles(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (!name.starts_with('.') && it->is_regular_file(typeError))
            names.push_back(name);
    }
    return names;
}

// The current file of a Maildir message: its flags (and so its name) change when it is read,
// and it moves from new/ to cur/.
std::optional<fs::path> findMaildirFile(const fs::path& maildir, const std::string& unique) {
    for (const char* sub : {"cur", "new"}) {
        for (const auto& name : listFiles(maildir / sub)) {
            if (uniqueMaildirName(name) == unique)
                return maildir / sub / name;
        }
    }
    return std::nullopt;
}

// Answers true once the reading in progress is to be given up.
using StopCheck = std::function<bool()>;

struct ReadResult {
    std::optional<Item> item;
    std::optional<ItemFolder::Skipped> skipped;  // why there is no item; nullopt when stopped
};
using Reader = std::function<ReadResult(std::size_t index, const StopCheck& stopped)>;

// Hands out a folder's items in index order while worker threads read the next few messages:
// parsing a message costs more than searching it, so on a machine with more than one core the
// search waits less. The reader is called on the workers, each call with an index of its own;
// it must touch nothing shared. An index asked out of order is read on the caller's thread.
// While the caller waits, keepGoing is asked every few milliseconds; once it answers false,
// every reading in progress is given up and no item is handed out any more.
class ReadAhead {
  public:
    ReadAhead(std::size_t count, Reader reader, PimLog log, KeepGoing keepGoing)
        : m_count(count),
          m_reader(std::move(reader)),
          m_log(std::move(log)),
          m_keepGoing(std::move(keepGoing)) {}

    ~ReadAhead() {
        m_cancel = true;  // messages read ahead and no longer wanted
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        for (auto& worker : m_workers)
            worker.join();
    }

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    std::optional<Item> item(std::size_t index) {
        m_skipped.reset();
        if (m_cancel)
            return std::nullopt;
        ReadResult result;
        if (index == m_taken + 1 && m_count > 1) {
            startWorkers();
            std::unique_lock lock(m_mutex);
            const auto ready = [&] { return m_ready.contains(index); };
            while (!ready()) {
                if (!m_keepGoing) {
                    m_changed.wait(lock, ready);
                    break;
                }
                if (m_changed.wait_for(lock, kLookEvery, ready))
                    break;
                lock.unlock();
                const bool goOn = m_keepGoing();
                lock.lock();
                if (!goOn) {
                    m_cancel = true;
                    return std::nullopt;
                }
            }
            result = std::move(m_ready[index]);
            m_ready.erase(index);
            m_taken = index;
            lock.unlock();
            m_changed.notify_all();
        } else {
            result = readSafely(index, [this] { return stoppedOnCaller(); });
        }
        if (!result.item && result.skipped) {
            if (m_log)
                m_log(kPlace, "読めないメールを飛ばしました: " + result.skipped->where + ": " +
                                  result.skipped->why);
            m_skipped = std::move(result.skipped);
        }
        return std::move(result.item);
    }

    const std::optional<ItemFolder::Skipped>& skipped() const { return m_skipped; }

  private:
    static constexpr std::size_t kAhead = 32;
    static constexpr std::chrono::milliseconds kLookEvery{20};

    ReadResult readSafely(std::size_t index, const StopCheck& stopped) {
        try {
            return m_reader(index, stopped);
        } catch (const std::exception& failure) {
            return {std::nullopt, ItemFolder::Skipped{"#" + std::to_string(index), failure.what()}};
        }
    }

    // Asked from inside a reading on the caller's thread; keepGoing at most every kLookEvery.
    bool stoppedOnCaller() {
        if (m_cancel)
            return true;
        if (!m_keepGoing)
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastLook < kLookEvery)
            return false;
        m_lastLook = now;
        if (!m_keepGoing())
            m_cancel = true;
        return m_cancel;
    }

    void startWorkers() {
        if (!m_workers.empty())
            return;
        m_next = m_taken + 1;
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < std::min(cores, 4u); ++i)
            m_workers.emplace_back([this] { work(); });
    }

    void work() {
        while (true) {
            std::size_t index;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] {
                    return m_stop || m_cancel || (m_next <= m_count && m_next <= m_taken + kAhead);
                });
                if (m_stop || m_cancel)
                    return;
                index = m_next++;
            }
            ReadResult result = readSafely(index, [this] { return m_cancel.load(); });
            {
                std::lock_guard lock(m_mutex);
                m_ready[index] = std::move(result);
            }
            m_changed.notify_all();
        }
    }

    const std::size_t m_count;
    Reader m_reader;
    PimLog m_log;
    KeepGoing m_keepGoing;
    std::atomic<bool> m_cancel{false};
    std::chrono::steady_clock::time_point m_lastLook{};
    std::optional<ItemFolder::Skipped> m_skipped;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::size_t, ReadResult> m_ready;
    std::size_t m_taken = 0;  // the last index handed out in order
    std::size_t m_next = 1;   // the next index a worker reads
    bool m_stop = false;
    std::vector<std::thread> m_workers;
};

class MboxFolder : public ItemFolder {
  public:
    MboxFolder(fs::path path, std::vector<std::int64_t> offsets, std::int64_t size, PimLog log,
               KeepGoing keepGoing)
        : m_path(std::move(path)),
          m_offsets(std::move(offsets)),
          m_size(size),
          m_reader(
              m_offsets.size(),
              [this](std::size_t index, const StopCheck& stopped) { return read(index, stopped); },
              std::move(log), std::move(keepGoing)) {}

    std::size_t count() const override { return m_offsets.size(); }

    std::optional<Item> item(std::size_t index) override {
        if (index == 0 || index > m_offsets.size())
            return std::nullopt;
        return m_reader.item(index);
    }

    Sources sources() const override { return {{m_path.string()}, readerStamp()}; }

    std::optional<Skipped> skipped() const override { return m_reader.skipped(); }

  private:
    ReadResult read(std::size_t index, const StopCheck& stopped) const {
        const std::int64_t begin = m_offsets[index - 1];
        const std::int64_t end = index < m_offsets.size() ? m_offsets[index] : m_size;
        const std::string where = m_path.string() + " @" + std::to_string(begin);
        FileDescriptor file(m_path);
        if (!file)
            return {std::nullopt, Skipped{where, file.problem()}};
        std::optional<MailMessage> mail = readMailMessage(file.get(), begin, end, stopped);
        if (stopped())
            return {};
        if (!mail)
            return {std::nullopt, Skipped{where, kNotAMessage}};
        return {itemOf(std::move(*mail), {Origin::Mbox, m_path.string(), std::to_string(begin), {}},
                       true),
                {}};
    }

    const fs::path m_path;
    const std::vector<std::int64_t> m_offsets;
    const std::int64_t m_size;
    ReadAhead m_reader;  // last: its workers end before the rest goes
};

// A Maildir or a folder of message files: one message per file.
class MessageFilesFolder : public ItemFolder {
  public:
    enum class Kind { Maildir, Folder, Single };

    // Single: the one message file `single` in `folder`.
    MessageFilesFolder(fs::path folder, Kind kind, PimLog log, KeepGoing keepGoing,
                       std::string single = {})
        : m_folder(std::move(folder)),
          m_kind(kind),
          m_maildir(kind == Kind::Maildir),
          m_files(listMessages(m_folder, kind, std::move(single))),
          m_reader(
              m_files.size(),
              [this](std::size_t index, const StopCheck& stopped) { return read(index, stopped); },
              std::move(log), std::move(keepGoing)) {}

    std::size_t count() const override { return m_files.size(); }

    std::optional<Item> item(std::size_t index) override {
        if (index == 0 || index > m_files.size())
            return std::nullopt;
        return m_reader.item(index);
    }

    // A Maildir's messages are never changed in place: each arrival, deletion or change of
    // flags changes its cur/ or new/ folder. The files of a plain folder may be edited.
    Sources sources() const override {
        Sources sources{{}, readerStamp()};
        if (m_kind == Kind::Single) {
            sources.files.push_back((m_folder / m_files.front()).string());
        } else if (m_kind == Kind::Maildir) {
            for (const char* sub : {"cur", "new"}) {
                std::error_code error;
                if (fs::is_directory(m_folder / sub, error))
                    sources.files.push_back((m_folder / sub).string());
            }
        }
        return sources;
    }

    std::optional<Skipped> skipped() const override { return m_reader.skipped(); }

  private:
    static std::vector<std::string> listMessages(const fs::path& folder, Kind kind,
                                                 std::string single) {
        std::vector<std::string> files;
        if (kind == Kind::Single) {
            files.push_back(std::move(single));
        } else if (kind == Kind::Maildir) {
            for (const char* sub : {"cur", "new"}) {
                for (auto& name : listFiles(folder / sub))
                    files.push_back(std::string(sub) + "/" + name);
            }
            std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
                return deliveredBefore(a.substr(4), b.substr(4));
            });
        } else {
            files = listFiles(folder);
            std::sort(files.begin(), files.end(), numberedBefore);
        }
        return files;
    }

    ReadResult read(std::size_t index, const StopCheck& stopped) const {
        const std::string& relative = m_files[index - 1];
        const std::string id = m_maildir ? uniqueMaildirName(relative.substr(4)) : relative;
        fs::path path = m_folder / relative;
        std::optional<MailMessage> mail;
        {
            FileDescriptor file(path);
            if (!file && m_maildir) {
                // Read (and so renamed) or moved to cur/ since the folder was listed.
                if (auto moved = findMaildirFile(m_folder, id))
                    path = *moved;
            }
        }
        FileDescriptor file(path);
        if (!file)
            return {std::nullopt, Skipped{path.string(), file.problem()}};
        mail = readMailMessage(file.get(), 0, -1, stopped);
        if (stopped())
            return {};
        if (!mail)
            return {std::nullopt, Skipped{path.string(), kNotAMessage}};
        return {
            itemOf(std::move(*mail),
                   {m_maildir ? Origin::Maildir : Origin::MessageFile, m_folder.string(), id, {}},
                   false),
            {}};
    }

    const fs::path m_folder;
    const Kind m_kind;
    const bool m_maildir;
    const std::vector<std::string> m_files;
    ReadAhead m_reader;  // last: its workers end before the rest goes
};

std::optional<std::string> readRange(int fd, std::int64_t begin, std::int64_t end) {
    if (end < begin || end - begin > kLargestCopiedMessage)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(end - begin), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done,
                                  begin + static_cast<std::int64_t>(done));
        if (n <= 0)
            return std::nullopt;
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

std::optional<std::string> readWholeFile(const fs::path& path) {
    FileDescriptor file(path);
    if (!file)
        return std::nullopt;
    const off_t size = ::lseek(file.get(), 0, SEEK_END);
    if (size < 0)
        return std::nullopt;
    return readRange(file.get(), 0, size);
}

// The file's bytes when it still holds the message with that identity.
std::optional<std::string> sameMessageFile(const fs::path& path, const std::string& check) {
    auto bytes = readWholeFile(path);
    if (!bytes)
        return std::nullopt;
    auto mail = readMailMessage(*bytes);
    if (!mail || identityOf(*mail) != check)
        return std::nullopt;
    return bytes;
}

// The bytes of the mbox message at [begin, end) as a message file holds them.
std::string asMessageFile(std::string bytes) {
    if (bytes.starts_with("From ")) {
        const std::size_t newline = bytes.find('\n');
        bytes.erase(0, newline == std::string::npos ? bytes.size() : newline + 1);
    }
    return unescapeMboxFromLines(bytes);
}

std::optional<std::string> mboxMessageBytes(const ItemRef& ref) {
    FileDescriptor file{fs::path(ref.container)};
    if (!file)
        return std::nullopt;
    const off_t size = ::lseek(file.get(), 0, SEEK_END);
    std::vector<std::int64_t> offsets;
    try {
        offsets = scanMboxOffsets(file.get()).value_or(std::vector<std::int64_t>());
    } catch (const Error&) {
        return std::nullopt;
    }
    const auto matches = [&](std::size_t i) {
        const std::int64_t end = i + 1 < offsets.size() ? offsets[i + 1] : size;
        auto mail = readMailMessage(file.get(), offsets[i], end);
        return mail && identityOf(*mail) == ref.check;
    };
    // Where it was, else wherever it went (a compacted or rewritten mailbox).
    std::optional<std::size_t> found;
    const auto at = std::find(offsets.begin(), offsets.end(), std::atoll(ref.id.c_str()));
    if (at != offsets.end() && matches(static_cast<std::size_t>(at - offsets.begin())))
        found = static_cast<std::size_t>(at - offsets.begin());
    for (std::size_t i = 0; !found && i < offsets.size(); ++i) {
        if (matches(i))
            found = i;
    }
    if (!found)
        return std::nullopt;
    const std::int64_t end = *found + 1 < offsets.size() ? offsets[*found + 1] : size;
    auto bytes = readRange(file.get(), offsets[*found], end);
    if (!bytes)
        return std::nullopt;
    return asMessageFile(std::move(*bytes));
}

}  // namespace

bool isMboxFromLine(std::string_view line, bool afterBlankLine) {
    if (!line.starts_with("From "))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (!hasTime(line) || !hasYear(line))
        return false;
    if (afterBlankLine)
        return true;
    return hasWord(line, {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"}) &&
           hasWord(line, {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct",
                          "Nov", "Dec"});
}

namespace {

// The scan of scanMboxOffsets from `from` (where a message begins, or the file's start), ended
// once `enough` offsets are found.
std::optional<std::vector<std::int64_t>> scanMboxOffsetsFrom(int fd, std::int64_t from,
                                                             std::size_t enough,
                                                             const KeepGoing& keepGoing) {
    std::vector<std::int64_t> offsets;
    std::vector<char> block(kBlockSize);
    std::string carry;  // the head of a line that continues into the next block
    std::int64_t carryStart = 0;
    bool carryLong = false;
    bool previousBlank = true;
    std::int64_t position = from;
    bool first = true;

    const auto finishLine = [&](std::string_view head, std::int64_t start, bool longLine) {
        std::string_view text = head;
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        if (first && !text.starts_with("From "))
            return false;
        if (text.starts_with("From ") && (first || isMboxFromLine(text, previousBlank)))
            offsets.push_back(start);
        first = false;
        previousBlank = text.empty() && !longLine;
        return true;
    };

    if (::lseek(fd, from, SEEK_SET) < 0)
        throw Error(Error::Kind::FileRead, std::strerror(errno));
    while (true) {
        if (keepGoing && !keepGoing())
            return std::nullopt;
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Error(Error::Kind::FileRead, std::strerror(errno));
        }
        if (n == 0)
            break;
        std::string_view data(block.data(), static_cast<std::size_t>(n));
        std::size_t lineStart = 0;
        while (lineStart < data.size()) {
            const void* found = std::memchr(data.data() + lineStart, '\n', data.size() - lineStart);
            if (!found) {
                const std::string_view rest = data.substr(lineStart);
                if (carry.empty() && !carryLong)
                    carryStart = position + static_cast<std::int64_t>(lineStart);
                const std::size_t room = kLineHead > carry.size() ? kLineHead - carry.size() : 0;
                carry.append(rest.substr(0, room));
                carryLong = carryLong || rest.size() > room;
                break;
            }
            const std::size_t newline =
                static_cast<std::size_t>(static_cast<const char*>(found) - data.data());
            const std::string_view piece = data.substr(lineStart, newline - lineStart);
            bool goOn;
            if (!carry.empty() || carryLong) {
                const std::size_t room = kLineHead > carry.size() ? kLineHead - carry.size() : 0;
                carry.append(piece.substr(0, room));
                goOn = finishLine(carry, carryStart, carryLong || piece.size() > room);
                carry.clear();
                carryLong = false;
            } else {
                goOn = finishLine(piece.substr(0, kLineHead),
                                  position + static_cast<std::int64_t>(lineStart),
                                  piece.size() > kLineHead);
            }
            if (!goOn)
                return std::vector<std::int64_t>();
            if (offsets.size() >= enough)
                return offsets;
            lineStart = newline + 1;
        }
        position += n;
    }
    if ((!carry.empty() || carryLong) && !finishLine(carry, carryStart, carryLong))
        return std::vector<std::int64_t>();
    return offsets;
}

}  // namespace

std::optional<std::vector<std::int64_t>> scanMboxOffsets(int fd, const KeepGoing& keepGoing) {
    return scanMboxOffsetsFrom(fd, 0, std::numeric_limits<std::size_t>::max(), keepGoing);
}

std::unique_ptr<ItemFolder> openMailbox(const fs::path& place, const PimLog& log,
                                        const KeepGoing& keepGoing, std::string* why) {
    const auto fail = [&](const std::string& reason) -> std::unique_ptr<ItemFolder> {
        if (log)
            log(kPlace, reason);
        if (why != nullptr)
            *why = reason;
        return nullptr;
    };
    struct stat status {};
    if (::stat(place.c_str(), &status) != 0) {
        return fail(errno == ENOENT ? "メールボックスがありません: " + place.string()
                                    : "メールボックスを開けません: " + place.string() + ": " +
                                          std::strerror(errno));
    }
    if (S_ISDIR(status.st_mode)) {
        std::error_code ec;
        fs::directory_iterator listing(place, ec);
        if (ec)
            return fail("メールボックスを開けません: " + place.string() + ": " + ec.message());
        const bool maildir =
            fs::is_directory(place / "cur", ec) || fs::is_directory(place / "new", ec);
        return std::make_unique<MessageFilesFolder>(
            place, maildir ? MessageFilesFolder::Kind::Maildir : MessageFilesFolder::Kind::Folder,
            log, keepGoing);
    }
    if (!S_ISREG(status.st_mode))
        return fail("メールボックスがファイルでもフォルダでもありません: " + place.string());
    FileDescriptor file(place);
    if (!file)
        return fail("メールボックスを開けません: " + place.string() + ": " + file.problem());
    const off_t size = ::lseek(file.get(), 0, SEEK_END);
    std::optional<std::vector<std::int64_t>> offsets;
    try {
        offsets = scanMboxOffsets(file.get(), keepGoing);
    } catch (const Error& failure) {
        return fail("メールボックスを開けません: " + place.string() + ": " + failure.what());
    }
    if (!offsets)
        return nullptr;  // stopped
    if (offsets->empty() && size > 0) {
        // Not an mbox: one message saved as a file.
        return std::make_unique<MessageFilesFolder>(place.parent_path(),
                                                    MessageFilesFolder::Kind::Single, log,
                                                    keepGoing, place.filename().string());
    }
    return std::make_unique<MboxFolder>(place, std::move(*offsets), size, log, keepGoing);
}

std::optional<std::string> mailMessageBytes(const ItemRef& ref) {
    switch (ref.origin) {
        case Origin::Mbox:
            return mboxMessageBytes(ref);
        case Origin::Maildir:
            if (auto path = findMaildirFile(ref.container, ref.id))
                return sameMessageFile(*path, ref.check);
            return std::nullopt;
        case Origin::MessageFile:
            return sameMessageFile(fs::path(ref.container) / ref.id, ref.check);
        default:
            return std::nullopt;
    }
}

std::optional<Item> mailItem(const ItemRef& ref) {
    // An mbox's message where the search found it, read without scanning the whole mailbox.
    if (ref.origin == Origin::Mbox) {
        FileDescriptor file{fs::path(ref.container)};
        const std::int64_t begin = std::atoll(ref.id.c_str());
        std::optional<std::vector<std::int64_t>> offsets;
        try {
            if (file)
                offsets = scanMboxOffsetsFrom(file.get(), begin, 2, {});
        } catch (const Error&) {
            offsets.reset();  // read below from the start, as the viewer does
        }
        if (offsets && !offsets->empty() && offsets->front() == begin) {
            auto mail =
                readMailMessage(file.get(), begin, offsets->size() > 1 ? (*offsets)[1] : -1);
            if (mail && identityOf(*mail) == ref.check)
                return itemOf(std::move(*mail), ref, true);
        }
    }
    const std::optional<std::string> bytes = mailMessageBytes(ref);
    if (!bytes)
        return std::nullopt;
    std::optional<MailMessage> mail = readMailMessage(*bytes);
    if (!mail)
        return std::nullopt;
    // The bytes are already unescaped: the mbox's escaping is not undone twice.
    return itemOf(std::move(*mail), ref, false);
}

}  // namespace ferretta::platform::pim
