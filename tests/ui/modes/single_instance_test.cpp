// The single-instance hand-off and the window's message hook: the bytes on the wire, the frame
// reader against broken input, the claim of the instance name by racing starts (threads and
// processes, one that does not answer yet), folders handed to a server in this process, and the
// re-entry guard of the hook. Runs offscreen; the hot key (with the lock keys), a second start
// handing a Japanese folder over from another process and a start after SIGKILL are the
// X-server scenario's; the frames in pieces of any size are the fuzz target's.
#include "ui/modes/single_instance.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/settings.h"
#include "run/start_up.h"
#include "support/qt_test_support.h"
#include "support/recording_host.h"
#include "support/wait.h"
#include "ui/modes/wnd_proc.h"

using namespace ferretta;
using namespace ferretta::ui::modes;
using namespace std::string_literals;

namespace {

// --- Child processes: this same program, started with FERRETTA_HANDOFF_CHILD set, plays a
// second start before main runs and ends.
//   "claim|NAME": prints L (listener), S (another instance runs) or N (neither); a listener
//                 then holds the name until its standard input closes.
//   "flood|NAME|N": opens N connections to NAME and sends nothing; prints how many it opened,
//                 then holds them until its standard input closes.
void waitForStdinToClose() {
    for (char c = 0; ::read(STDIN_FILENO, &c, 1) > 0;) {
    }
}

// The abstract socket address of an instance name, and its length.
std::pair<sockaddr_un, socklen_t> abstractAddress(const std::string& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    return {address, static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())};
}

int runChild(const std::string& request) {
    // "mode|name|argument": the argument is the rest, '|' included.
    const std::size_t first = request.find('|');
    const std::size_t second = request.find('|', first + 1);
    const std::string mode = request.substr(0, first);
    const std::string name = request.substr(first + 1, second - first - 1);
    const std::string argument = second == std::string::npos ? "" : request.substr(second + 1);
    InstanceClaim claim = mode == "flood" ? InstanceClaim{} : claimInstance(name);
    if (mode == "claim") {
        std::fputc(claim.listener.valid()          ? 'L'
                   : claim.runningInstance.valid() ? 'S'
                                                   : 'N',
                   stdout);
        std::fflush(stdout);
        if (claim.listener.valid())
            waitForStdinToClose();
        return 0;
    }
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;  // the server's test lowered it for both
    ::setrlimit(RLIMIT_NOFILE, &limit);
    const auto [address, length] = abstractAddress(name);
    std::vector<FileDescriptor> held;
    for (int i = 0; i < std::stoi(argument); ++i) {
        FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0)
            held.push_back(std::move(fd));
    }
    std::printf("%zu\n", held.size());
    std::fflush(stdout);
    waitForStdinToClose();
    return 0;
}

const bool childDone = [] {
    const char* request = std::getenv("FERRETTA_HANDOFF_CHILD");
    if (request != nullptr)
        std::_Exit(runChild(request));
    return true;
}();

// A name no other test (or running ferretta) uses.
std::string uniqueName() {
    static int counter = 0;
    return "ferretta-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// Runs the event loop until the condition holds or the time is up.
bool processUntil(const std::function<bool()>& done, int ms = 10000) {
    return test::waitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            return done();
        },
        std::chrono::milliseconds(ms));
}

QProcess* startChild(const std::string& request, QObject* parent) {
    auto* process = new QProcess(parent);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FERRETTA_HANDOFF_CHILD", QString::fromStdString(request));
    process->setProcessEnvironment(env);
    process->setProgram(QCoreApplication::applicationFilePath());
    process->start();
    return process;
}

// Binds the abstract name without listening: a start that has not got that far yet.
FileDescriptor bindOnly(const std::string& name) {
    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const auto [address, length] = abstractAddress(name);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0)
        return {};
    return fd;
}

// The window's side of a hand-off without the window: a hook whose folder handler is
// acceptFolderArgument with a recording host, served on a freshly claimed name.
struct RunningInstance {
    std::string name = uniqueName();
    test::RecordingHost host;
    app::Settings settings;
    int hotKeys = 0;
    std::function<void()> duringFolder;  // runs inside the folder handler (a nested loop ...)
    WndProc wndProc{[this] { ++hotKeys; },
                    [this](std::string_view text) {
                        run::acceptFolderArgument(host, settings, text);
                        if (duringFolder)
                            duringFolder();
                    }};
    std::vector<bool> handled;  // per arrived message: false when the guard dropped it
    InstanceServer server{[this](std::string_view payload) {
        handled.push_back(wndProc(WindowMessage::CopyData, payload));
    }};

    RunningInstance() {
        test::ensureOffscreenApplication();
        InstanceClaim claim = claimInstance(name);
        EXPECT_TRUE(claim.listener.valid());
        EXPECT_TRUE(server.listen(std::move(claim.listener)));
    }
};

// Hands `text` over from a thread, as a second start would, while this thread serves.
class SecondStart {
  public:
    SecondStart(const std::string& name, std::string text)
        : m_thread([this, name, text = std::move(text)] {
              InstanceClaim claim = claimInstance(name);
              if (claim.runningInstance.valid())
                  m_answered = sendMessageMain(claim.runningInstance.get(), text);
              m_finished = true;
          }) {}
    ~SecondStart() { m_thread.join(); }
    bool finished() const { return m_finished; }
    bool answered() const { return m_answered; }

  private:
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_answered{false};
    std::thread m_thread;
};

// A folder below a temporary one, made on the way.
std::string makeFolder(const QTemporaryDir& temp, const std::string& name) {
    const std::string path = temp.path().toStdString() + "/" + name;
    std::filesystem::create_directories(path);
    return path;
}

}  // namespace

// --- The bytes on the wire

TEST(HandOffPayload, Cp932WithThreeZeroBytesAndBack) {
    struct Case {
        std::string commandLine;
        std::string bytes;
        std::string received;  // what the running instance reads from the bytes
    };
    const std::string quoted = "\"/home/利用者/検索 \"資料\" ①～Ⅹ\"";
    const Case cases[] = {
        {"", "\0\0\0"s, ""},
        {"\"/home/u/検索\"", "\"/home/u/\x8c\x9f\x8d\xf5\"\0\0\0"s, "\"/home/u/検索\""},
        {"ﾃｽﾄ", "\xc3\xbd\xc4\0\0\0"s, "ﾃｽﾄ"},  // half-width katakana: one byte each
        // Without a CP932 form, or no valid UTF-8 (a name in CP932 itself): the bytes as they are.
        {"/a/caf\xc3\xa9/\xf0\x9f\x98\x80", "\xEF\xBB\xBF/a/caf\xc3\xa9/\xf0\x9f\x98\x80\0\0\0"s,
         "/a/caf\xc3\xa9/\xf0\x9f\x98\x80"},
        {"/a/\x83\x65", "\xEF\xBB\xBF/a/\x83\x65\0\0\0"s, "/a/\x83\x65"},
        {quoted, handOffPayload(quoted), quoted},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(handOffPayload(c.commandLine), c.bytes) << c.commandLine;
        EXPECT_EQ(handOffText(c.bytes), c.received) << c.commandLine;
    }
    // The receiver stops at the first zero byte; a payload without one is taken whole.
    EXPECT_EQ(handOffText("abc\0def\0"s), "abc");
    EXPECT_EQ(handOffText("no zero byte"), "no zero byte");
    EXPECT_EQ(handOffText("\x8c\0"s), "?");  // a lead byte cut off by the zero byte
}

// --- Framing

TEST(HandOffFrame, ReaderRejectsHostileFrames) {
    using Status = HandOffFrameReader::Status;
    const std::string tooLong = handOffFrame(std::string(maxHandOffPayload, 'a')) + "x";
    struct Case {
        const char* what;
        std::string bytes;
        Status status;
    };
    const Case cases[] = {
        {"announces 4 GiB", "\xff\xff\xff\xff"s, Status::Invalid},
        {"announces one byte over the limit", "\x01\x00\x01\x00"s, Status::Invalid},
        {"a byte after the frame", handOffFrame("ab") + "c", Status::Invalid},
        {"a second frame", handOffFrame("ab") + handOffFrame("cd"), Status::Invalid},
        {"the largest frame, then one more byte", tooLong, Status::Invalid},
        {"header only", "\x05\x00\x00\x00"s, Status::NeedMore},
        {"half a header", "\x05\x00"s, Status::NeedMore},
        {"empty payload", "\0\0\0\0"s, Status::Complete},
        {"the largest payload", handOffFrame(std::string(maxHandOffPayload, 'a')),
         Status::Complete},
    };
    for (const Case& c : cases) {
        HandOffFrameReader reader;
        EXPECT_EQ(reader.feed(c.bytes), c.status) << c.what;
        // Once invalid, nothing makes it valid again.
        if (c.status == Status::Invalid) {
            EXPECT_EQ(reader.feed("\0\0\0\0"s), Status::Invalid) << c.what;
        }
    }
}

// --- The instance name

TEST(InstanceName, OnePerUserAndDisplay) {
    struct Case {
        unsigned uid;
        std::string display;
        std::string name;
    };
    const Case cases[] = {
        {1000, ":0.0", "ferretta-1000-:0"},  // the same server as ":0"
        {0, "localhost:12.0", "ferretta-0-localhost:12"},
        {1000, "wayland-0", "ferretta-1000-wayland-0"},
        {1000, "/tmp/.X11-unix/X0", "ferretta-1000-_tmp_.X11-unix_X0"},
        {1000, "host.example:0.x", "ferretta-1000-host.example:0.x"},
        {1000, "a\nb\0c"s, "ferretta-1000-a_b_c"},
        {1000, std::string(200, 'd'), "ferretta-1000-" + std::string(64, 'd')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(instanceNameFor(c.uid, c.display), c.name) << c.display;
}

// --- Claiming the name

TEST(ClaimInstance, ExactlyOneOfEightProcessesGetsTheName) {
    test::ensureOffscreenApplication();
    const std::string name = uniqueName();
    QObject owner;
    std::vector<QProcess*> children;
    for (int i = 0; i < 8; ++i)
        children.push_back(startChild("claim|" + name, &owner));
    std::string answers;
    ASSERT_TRUE(processUntil([&] {
        for (QProcess* child : children) {
            if (child->bytesAvailable() > 0)
                answers += child->read(1).toStdString();
        }
        return answers.size() == children.size();
    })) << "answers so far: "
        << answers;
    EXPECT_EQ(std::count(answers.begin(), answers.end(), 'L'), 1) << answers;
    EXPECT_EQ(std::count(answers.begin(), answers.end(), 'S'), 7) << answers;
    for (QProcess* child : children)
        child->closeWriteChannel();
    EXPECT_TRUE(processUntil([&] {
        return std::all_of(children.begin(), children.end(),
                           [](QProcess* c) { return c->state() == QProcess::NotRunning; });
    }));
}

TEST(ClaimInstance, HolderThatDoesNotListenYetIsAskedAgainForAWhile) {
    const std::string late = uniqueName();
    FileDescriptor lateHolder = bindOnly(late);
    ASSERT_TRUE(lateHolder.valid());
    std::thread listenLate([&lateHolder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ::listen(lateHolder.get(), 4);
    });
    InstanceClaim claim = claimInstance(late);
    listenLate.join();
    EXPECT_TRUE(claim.runningInstance.valid());

    // One that never listens: the start runs alone, soon.
    const std::string never = uniqueName();
    FileDescriptor neverHolder = bindOnly(never);
    const auto start = std::chrono::steady_clock::now();
    claim = claimInstance(never);
    EXPECT_FALSE(claim.listener.valid() || claim.runningInstance.valid());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// --- Handing a folder over

TEST(HandOff, MessageArrivingDuringAMessageBoxIsDroppedButAnswered) {
    RunningInstance first;
    QTemporaryDir temp;
    const std::string one = makeFolder(temp, "one");
    const std::string two = makeFolder(temp, "two");
    std::unique_ptr<SecondStart> later;
    bool hotKeyHandled = true;
    first.duringFolder = [&] {
        if (later)
            return;  // only the first message opens the "message box"
        later = std::make_unique<SecondStart>(first.name, two);
        processUntil([&] { return later->finished(); });
        hotKeyHandled = first.wndProc(WindowMessage::HotKey);
    };
    SecondStart second(first.name, one);
    ASSERT_TRUE(processUntil([&] { return second.finished(); }));
    ASSERT_NE(later, nullptr);
    EXPECT_TRUE(later->answered()) << "the nested sender must not wait for ever";
    EXPECT_TRUE(second.answered());
    EXPECT_EQ(first.handled, (std::vector<bool>{false, true}));  // the nested one ends first
    EXPECT_FALSE(hotKeyHandled);
    EXPECT_EQ(first.hotKeys, 0);
    EXPECT_EQ(first.settings.dir, one);
    EXPECT_EQ(first.host.messages.size(), 1u);
    // The hook takes messages again afterwards.
    EXPECT_TRUE(first.wndProc(WindowMessage::HotKey));
    EXPECT_EQ(first.hotKeys, 1);
}

// About 1,030 connections held open at once, more than this process may hold descriptors for:
// the server keeps listening and a later start still hands its folder over.
TEST(HandOff, AFloodOfIdleConnectionsNeverEndsTheServer) {
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    {
        RunningInstance first;
        QObject owner;
        QProcess* flood = startChild("flood|" + first.name + "|1030", &owner);
        ASSERT_TRUE(processUntil([&] { return flood->canReadLine(); }, 60000));
        EXPECT_EQ(flood->readLine().trimmed().toInt(), 1030);
        EXPECT_TRUE(first.server.isListening());
        EXPECT_LE(first.server.openConnections(), maxPendingHandOffs);
        SecondStart good(first.name, "/tmp");
        ASSERT_TRUE(processUntil([&] { return good.finished(); }));
        EXPECT_TRUE(good.answered());
        flood->closeWriteChannel();
        EXPECT_TRUE(processUntil([&] { return flood->state() == QProcess::NotRunning; }));
    }
    ::setrlimit(RLIMIT_NOFILE, &old);
}

TEST(HandOff, BrokenSendersGetNoAnswerAndTheServerGoesOn) {
    RunningInstance first;
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"nothing at all", ""},
        {"half a header", "\x03\x00"s},
        {"a frame cut short", "\x09\x00\x00\x00/tmp"s},
        {"an oversized header", "\xff\xff\xff\x7f"s},
    };
    for (const Case& c : cases) {
        InstanceClaim claim = claimInstance(first.name);
        ASSERT_TRUE(claim.runningInstance.valid()) << c.what;
        const int fd = claim.runningInstance.get();
        ASSERT_EQ(::send(fd, c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(c.bytes.size()));
        ::shutdown(fd, SHUT_WR);
        // The server closes without an answer byte.
        std::atomic<ssize_t> got{-2};
        char answer = 0;
        std::thread reader([&] { got = ::recv(fd, &answer, 1, 0); });
        const bool closed = processUntil([&] { return got != -2; });
        if (!closed)
            ::shutdown(fd, SHUT_RDWR);
        reader.join();
        EXPECT_TRUE(closed) << c.what;
        EXPECT_LE(got, 0) << c.what;
    }
    EXPECT_TRUE(first.host.messages.empty());
    SecondStart good(first.name, "/tmp");
    ASSERT_TRUE(processUntil([&] { return good.finished(); }));
    EXPECT_TRUE(good.answered());
}

// --- The hook

TEST(WndProcGuard, NestedMessagesOnlyPassAndTheGuardSurvivesAnException) {
    int hotKeys = 0;
    std::vector<std::string> folders;
    std::vector<bool> nested;
    WndProc* self = nullptr;
    WndProc wndProc(
        [&] {
            ++hotKeys;
            nested.push_back((*self)(WindowMessage::HotKey));
            nested.push_back((*self)(WindowMessage::CopyData, "x\0"s));
        },
        [&](std::string_view folder) {
            folders.emplace_back(folder);
            if (folder == "throw")
                throw std::runtime_error("handler failed");
        });
    self = &wndProc;
    EXPECT_TRUE(wndProc(WindowMessage::HotKey));
    EXPECT_EQ(hotKeys, 1);
    EXPECT_EQ(nested, (std::vector<bool>{false, false}));
    EXPECT_TRUE(folders.empty());
    EXPECT_FALSE(wndProc.isInWndProc());

    EXPECT_THROW(wndProc(WindowMessage::CopyData, "throw\0\0\0"s), std::runtime_error);
    EXPECT_FALSE(wndProc.isInWndProc());
    EXPECT_TRUE(wndProc(WindowMessage::CopyData, "\x8c\x9f\x8d\xf5\0junk"s));
    EXPECT_EQ(folders, (std::vector<std::string>{"throw", "検索"}));
}
