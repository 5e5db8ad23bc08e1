#include "drivers/office/libreoffice_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <rtl/textenc.h>
#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/RuntimeException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/string.hxx>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <vector>

#include "drivers/office/libreoffice_text.h"
#include "platform/process.h"
#include "platform/unicode.h"

extern char** environ;

namespace ferretta::platform::office::lo {
namespace {

using Clock = std::chrono::steady_clock;

// Terminating gets this long before the process group is killed.
constexpr int kGraceMs = 3000;
// A broken call is followed by one cheap call of at most this long to tell a refused call
// from a lost connection.
constexpr int kProbeMs = 5000;

std::string programDir() {
    return FERRETTA_LIBREOFFICE_PROGRAM_DIR;
}

// The office program: FERRETTA_SOFFICE when set (tests point it at a missing program),
// otherwise the soffice beside the UNO libraries we were built against.
std::string sofficePath() {
    if (const char* path = std::getenv("FERRETTA_SOFFICE"); path != nullptr && *path != '\0') {
        return path;
    }
    return programDir() + "/soffice";
}

// The UNO runtime of our own process is bootstrapped once and kept to the end: tearing it
// down at exit races the bridges' threads.
css::uno::Reference<css::uno::XComponentContext> localContext() {
    static std::mutex mutex;
    static auto* context = new css::uno::Reference<css::uno::XComponentContext>();
    std::lock_guard lock(mutex);
    if (context->is())
        return *context;
    // Without it the bootstrap cannot find the type libraries and crashes.
    if (std::getenv("URE_BOOTSTRAP") == nullptr) {
        const std::string rc = "vnd.sun.star.pathname:" + programDir() + "/fundamentalrc";
        ::setenv("URE_BOOTSTRAP", rc.c_str(), 0);
    }
    try {
        *context = cppu::defaultBootstrap_InitialComponentContext();
    } catch (const cppu::BootstrapException& e) {
        fail(kCannotStart, "The UNO runtime could not be started: " + toUtf8(e.getMessage()));
    } catch (const css::uno::Exception& e) {
        fail(kCannotStart, "The UNO runtime could not be started: " + toUtf8(e.Message));
    }
    return *context;
}

// Runs in the forked child, which is a copy of a threaded process: async-signal-safe calls
// only. It leads a process group of its own, starts soffice in it and watches two things:
// the guard pipe (EOF means our program ended, however it ended: kill the group; "d" means
// the office is handed to the user: leave it; "k": kill it now) and the office itself
// (ended: clean up the group and go).
[[noreturn]] void guardianMain(int guardRead, int out, int devNull, const char* path,
                               char* const* argv, char* const* envp) {
    ::setpgid(0, 0);
    // Keep no other descriptor of ours (other offices' guard pipes above all) open in the
    // office, or their guardians would never see the end of file.
    const int keep[] = {guardRead, out, devNull};
    closeDescriptorsExcept(keep);

    const pid_t office = ::fork();
    if (office == 0) {
        ::dup2(devNull, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execve(path, argv, envp);
        ::_exit(127);
    }
    if (office < 0)
        ::_exit(126);
    for (;;) {
        pollfd pipeState{guardRead, POLLIN, 0};
        if (::poll(&pipeState, 1, 200) > 0) {
            char command = 0;
            const ssize_t n = ::read(guardRead, &command, 1);
            if (n == 1 && command == 'd')
                ::_exit(0);
            if (n == 0 || (n == 1 && command == 'k') || (n < 0 && errno != EINTR)) {
                ::kill(0, SIGKILL);
                ::_exit(1);
            }
        }
        int status = 0;
        if (::waitpid(office, &status, WNOHANG) == office) {
            ::kill(0, SIGKILL);
            ::_exit(0);
        }
    }
}

// An office of this user started on the profile: its process id and the pipe it accepts
// connections on, read from its command line.
struct Leftover {
    pid_t pid = 0;
    std::string pipe;
};

std::optional<Leftover> findOfficeOnProfile(const std::string& profileUrl) {
    const std::string profileArgument = "-env:UserInstallation=" + profileUrl;
    constexpr std::string_view acceptPrefix = "--accept=pipe,name=";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) != 0 || info.st_uid != ::getuid())
            continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string argument;
        bool onProfile = false;
        std::string pipe;
        while (std::getline(in, argument, '\0')) {
            onProfile = onProfile || argument == profileArgument;
            if (argument.rfind(acceptPrefix, 0) == 0)
                pipe = argument.substr(
                    acceptPrefix.size(),
                    argument.find_first_of(",;", acceptPrefix.size()) - acceptPrefix.size());
        }
        std::string command;
        std::getline(std::ifstream(entry.path() / "comm"), command);
        if (onProfile && !pipe.empty() && command == "soffice.bin")
            return Leftover{static_cast<pid_t>(std::stol(name)), pipe};
    }
    return std::nullopt;
}

std::filesystem::path profileFolder(const LibreOfficeConfig& config, Purpose purpose) {
    std::filesystem::path root = config.profileRoot;
    if (root.empty()) {
        std::error_code error;
        root = std::filesystem::temp_directory_path(error);
        if (error)
            root = "/tmp";
        root /= "ferretta-libreoffice-" + std::to_string(::getuid());
    }
    return root / (purpose == Purpose::Search ? "search" : "open");
}

}  // namespace

void fail(long code, const std::string& what) {
    throw Error(Error::Kind::Automation, what, code);
}

std::u16string toU16(const rtl::OUString& text) {
    const sal_Unicode* units = text.getStr();
    return std::u16string(units, units + text.getLength());
}

std::string toUtf8(const rtl::OUString& text) {
    return utf16ToUtf8(toU16(text));
}

rtl::OUString toOUString(std::string_view utf8) {
    // Invalid bytes become U+FFFD through our own decoder rather than the office's.
    const std::u16string units = utf8ToUtf16(utf8);
    std::vector<sal_Unicode> buffer(units.begin(), units.end());
    return rtl::OUString(buffer.data(), static_cast<sal_Int32>(buffer.size()));
}

std::string pipeNamePrefix() {
    return "ferretta_lo_" + std::to_string(::getpid()) + "_";
}

Office::Office(LibreOfficeConfig config, Purpose purpose, std::string pipeName)
    : m_config(std::move(config)), m_purpose(purpose), m_pipeName(std::move(pipeName)) {
    m_watchThread = std::thread([this] { watch(); });
}

Office::~Office() {
    shutDown(m_purpose == Purpose::Open);
    {
        std::lock_guard lock(m_watchMutex);
        m_watchStop = true;
    }
    m_watchCondition.notify_all();
    m_watchThread.join();
}

void Office::watch() {
    std::unique_lock lock(m_watchMutex);
    while (!m_watchStop) {
        if (!m_deadline) {
            m_watchCondition.wait(lock);
            continue;
        }
        if (m_watchCondition.wait_until(lock, *m_deadline) == std::cv_status::timeout &&
            m_deadline && Clock::now() >= *m_deadline) {
            m_deadline.reset();
            m_watchFired = true;
            // Killing the office ends its side of the pipe; the blocked call then returns
            // with an exception on the calling thread.
            if (const pid_t group = m_group.load(); group > 0)
                ::kill(-group, SIGKILL);
        }
    }
}

void Office::arm(int milliseconds) {
    {
        std::lock_guard lock(m_watchMutex);
        m_watchFired = false;
        m_deadline = Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 1));
    }
    m_watchCondition.notify_all();
}

bool Office::disarm() {
    std::lock_guard lock(m_watchMutex);
    m_deadline.reset();
    return m_watchFired;
}

bool Office::processAlive() {
    if (m_adopted > 0) {
        if (::kill(m_adopted, 0) == 0)
            return true;
        m_adopted = 0;
        m_adoptedPipe.clear();
        m_group = 0;
        return false;
    }
    if (m_guardian <= 0)
        return false;
    int status = 0;
    const pid_t rc = ::waitpid(m_guardian, &status, WNOHANG);
    if (rc == 0)
        return true;
    // Ended (reaped now) or not ours any more.
    m_guardian = 0;
    m_group = 0;
    return false;
}

bool Office::isRunning() {
    std::lock_guard lock(m_callMutex);
    if (m_connected && !processAlive())
        forgetConnection();
    return m_connected;
}

void Office::killProcess() {
    if (const pid_t group = m_group.load(); group > 0)
        ::kill(-group, SIGKILL);
    if (m_guardian > 0) {
        int status = 0;
        while (::waitpid(m_guardian, &status, 0) < 0 && errno == EINTR) {
        }
    }
    const bool adopted = m_adopted > 0;
    m_guardian = 0;
    m_group = 0;
    m_adopted = 0;
    m_adoptedPipe.clear();
    if (m_guardWrite >= 0)
        ::close(m_guardWrite);
    m_guardWrite = -1;
    // A killed office leaves its pipe's socket behind, where the UNO runtime puts it. An office
    // handed to the user, or taken over from them, still listens on its socket: it must stay.
    if (adopted || m_handedToUser)
        return;
    const std::string socket = "OSL_PIPE_" + std::to_string(::getuid()) + "_" + currentPipe();
    for (const char* folder : {"/tmp/", "/var/tmp/"})
        ::unlink((folder + socket).c_str());
}

void Office::forgetConnection() {
    m_connected = false;
    // Releasing proxies of a dead bridge makes no call.
    m_desktop.clear();
    m_context.clear();
    m_pathsByUrl.clear();
    m_lastDocument.clear();
}

void Office::ensureRunning() {
    std::lock_guard lock(m_callMutex);
    ensureRunningLocked();
}

void Office::ensureRunningLocked() {
    if (m_connected && processAlive())
        return;
    forgetConnection();
    killProcess();
    ++m_generation;
    m_handedToUser = false;
    if (adoptLeftover()) {
        m_connected = true;
        return;
    }
    // An office that ends at once has usually handed its start over to one of its kind still
    // ending on the same profile (LibreOffice keeps one process per profile); once that one is
    // gone the profile is free, so such a start is tried again a few times.
    constexpr int kStartAttempts = 4;
    for (int attempt = 1;; ++attempt) {
        startProcess();
        try {
            connect();
            // Still ours: an office that handed its start to a leftover one and ended may have
            // left that one answering on our pipe.
            if (processAlive())
                break;
            forgetConnection();
            m_endedWhileStarting = true;
            fail(kCannotStart, "LibreOffice ended while starting");
        } catch (const Error&) {
            killProcess();
            if (m_endedWhileStarting && adoptLeftover()) {
                m_connected = true;
                return;
            }
            if (!m_endedWhileStarting || attempt == kStartAttempts)
                throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500 * attempt));
    }
    m_connected = true;
}

bool Office::adoptLeftover() {
    if (m_purpose != Purpose::Open)
        return false;
    const auto leftover = findOfficeOnProfile(fileUrlFromPath(profileFolder(m_config, m_purpose)));
    if (!leftover)
        return false;
    m_adopted = leftover->pid;
    m_adoptedPipe = leftover->pipe;
    const pid_t group = ::getpgid(leftover->pid);
    m_group = group > 0 ? group : 0;
    try {
        connect();
        return true;
    } catch (const Error&) {
        // Not answering: left alone, as it was; a start of our own follows.
        forgetConnection();
        m_adopted = 0;
        m_adoptedPipe.clear();
        m_group = 0;
        return false;
    }
}

void Office::startProcess() {
    const std::filesystem::path profile = profileFolder(m_config, m_purpose);
    std::error_code error;
    std::filesystem::create_directories(profile, error);
    if (error)
        fail(kCannotStart, "Cannot create the LibreOffice profile folder " + profile.string());

    const std::string program = sofficePath();
    if (::access(program.c_str(), X_OK) != 0)
        fail(kCannotStart, "LibreOffice is not installed: " + program);
    std::vector<std::string> args = {program};
    if (m_purpose == Purpose::Search) {
        args.insert(args.end(), {"--headless", "--invisible"});
    }
    args.insert(args.end(), {"--norestore", "--nologo", "--nodefault", "--nolockcheck",
                             "-env:UserInstallation=" + fileUrlFromPath(profile),
                             "--accept=pipe,name=" + currentPipe() + ";urp;"});
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    // The office must not see the bootstrap variable meant for our own UNO runtime.
    std::vector<std::string> envStrings;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "URE_BOOTSTRAP=", 14) != 0)
            envStrings.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (auto& entry : envStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    int out = devNull;
    if (!m_config.logFile.empty()) {
        const int log =
            ::open(m_config.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log >= 0)
            out = log;
    }
    int guard[2] = {-1, -1};
    if (devNull < 0 || ::pipe2(guard, O_CLOEXEC) != 0) {
        if (out != devNull && out >= 0)
            ::close(out);
        if (devNull >= 0)
            ::close(devNull);
        fail(kCannotStart,
             std::string("Cannot prepare to start LibreOffice: ") + std::strerror(errno));
    }
    const pid_t pid = ::fork();
    if (pid == 0)
        guardianMain(guard[0], out, devNull, program.c_str(), argv.data(), envp.data());
    const int forkError = errno;
    ::close(guard[0]);
    if (out != devNull)
        ::close(out);
    ::close(devNull);
    if (pid < 0) {
        ::close(guard[1]);
        fail(kCannotStart, std::string("Cannot start LibreOffice: ") + std::strerror(forkError));
    }
    // Also here, so that a kill right away already reaches the whole group.
    ::setpgid(pid, pid);
    m_guardian = pid;
    m_group = pid;
    m_guardWrite = guard[1];
}

void Office::connect() {
    const auto local = localContext();
    const rtl::OUString url =
        toOUString("uno:pipe,name=" + connectPipe() + ";urp;StarOffice.ComponentContext");
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_config.startTimeoutMs);
    css::uno::Reference<css::bridge::XUnoUrlResolver> resolver;
    try {
        resolver = css::bridge::UnoUrlResolver::create(local);
    } catch (const css::uno::Exception& e) {
        fail(kCannotStart, "No UNO URL resolver: " + toUtf8(e.Message));
    }
    m_endedWhileStarting = false;
    for (;;) {
        if (!processAlive()) {
            m_endedWhileStarting = true;
            fail(kCannotStart, "LibreOffice ended while starting");
        }
        if (m_config.keepWaiting && !m_config.keepWaiting())
            fail(stoppedCallError, "The start of LibreOffice was stopped");
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            fail(kCannotStart, "LibreOffice did not accept a connection within " +
                                   std::to_string(m_config.startTimeoutMs) + " ms");
        }
        try {
            arm(static_cast<int>(left));
            m_context.set(resolver->resolve(url), css::uno::UNO_QUERY_THROW);
            m_desktop = css::frame::Desktop::create(m_context);
            disarm();
            return;
        } catch (const css::connection::NoConnectException&) {
            // Not listening yet: the usual answer while the office starts.
            disarm();
        } catch (const css::uno::Exception& e) {
            const bool fired = disarm();
            m_context.clear();
            m_desktop.clear();
            fail(kCannotStart, fired ? std::string("LibreOffice did not answer while starting")
                                     : "Cannot connect to LibreOffice: " + toUtf8(e.Message));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool Office::probe() {
    if (!processAlive())
        return false;
    arm(std::min(kProbeMs, m_config.callTimeoutMs));
    try {
        m_desktop->getComponents();
        return !disarm();
    } catch (const css::uno::Exception&) {
        // Any failure of this harmless call means the connection is gone.
        disarm();
        return false;
    }
}

void Office::startDocumentClock() {
    std::lock_guard lock(m_callMutex);
    m_documentDeadline.reset();
    // It starts with the next call, once the office is up: starting one is not the document's.
    m_documentClockPending = m_purpose == Purpose::Search && m_config.documentTimeoutMs > 0;
}

int Office::callLimitMs(bool& documentLimit) const {
    documentLimit = false;
    if (!m_documentDeadline)
        return m_config.callTimeoutMs;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*m_documentDeadline - Clock::now())
            .count();
    if (left >= m_config.callTimeoutMs)
        return m_config.callTimeoutMs;
    documentLimit = true;
    return static_cast<int>(std::max<long long>(left, 1));
}

bool Office::runWatched(const std::function<void()>& body) {
    if (!m_config.keepWaiting) {
        body();
        return true;
    }
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr thrown;
    std::thread worker([&] {
        try {
            body();
        } catch (...) {
            // Carried over to the calling thread, which handles it as if the body ran there.
            thrown = std::current_exception();
        }
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_all();
    });
    bool stopped = false;
    {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(20), [&] { return done; })) {
            if (stopped)
                continue;
            lock.unlock();
            const bool keep = m_config.keepWaiting();
            lock.lock();
            if (!keep && !done) {
                // Killing the office ends its side of the pipe; the call on the helper thread
                // then returns with an exception, which no one wants any more.
                stopped = true;
                if (const pid_t group = m_group.load(); group > 0)
                    ::kill(-group, SIGKILL);
            }
        }
    }
    worker.join();
    if (!stopped && thrown)
        std::rethrow_exception(thrown);
    return !stopped;
}

void Office::run(std::optional<std::uint64_t> generation, const std::function<void()>& body) {
    std::lock_guard lock(m_callMutex);
    if (generation) {
        if (*generation != m_generation || !m_connected || !processAlive()) {
            fail(kOfficeLost, "LibreOffice ended since this object was read from it");
        }
    } else {
        ensureRunningLocked();
    }
    if (m_documentClockPending) {
        m_documentClockPending = false;
        m_documentDeadline = Clock::now() + std::chrono::milliseconds(m_config.documentTimeoutMs);
    }
    std::string problem;
    bool broken = false;
    bool documentLimit = false;
    const int limitMs = callLimitMs(documentLimit);
    {
        arm(limitMs);
        try {
            if (!runWatched(body)) {
                disarm();
                forgetConnection();
                killProcess();
                fail(stoppedCallError, "The search was stopped; LibreOffice was ended");
            }
            disarm();
            return;
        } catch (const css::uno::RuntimeException& e) {
            // Also what a lost connection looks like (DisposedException among others).
            problem = toUtf8(e.Message);
            broken = true;
        } catch (const css::uno::Exception& e) {
            problem = toUtf8(e.Message);
        } catch (...) {
            // Our own errors and anything else pass on unchanged, without the watchdog.
            disarm();
            throw;
        }
    }
    const bool fired = disarm();
    if (fired) {
        forgetConnection();
        killProcess();
        fail(kOfficeLost, documentLimit ? "The document took longer than its time limit of " +
                                              std::to_string(m_config.documentTimeoutMs) +
                                              " ms; LibreOffice was ended"
                                        : "LibreOffice did not answer within " +
                                              std::to_string(limitMs) + " ms and was ended");
    }
    if (broken && !probe()) {
        forgetConnection();
        killProcess();
        fail(kOfficeLost, "The connection to LibreOffice was lost: " + problem);
    }
    fail(kCallRefused, "LibreOffice refused the call: " + problem);
}

void Office::shutDown(bool keepIfDocumentsOpen) {
    std::lock_guard lock(m_callMutex);
    if (m_connected && processAlive()) {
        bool keep = false;
        arm(std::min(kGraceMs, m_config.callTimeoutMs));
        try {
            if (keepIfDocumentsOpen) {
                keep = m_desktop->getComponents()->createEnumeration()->hasMoreElements();
            }
            if (!keep)
                m_desktop->terminate();
        } catch (const css::uno::Exception&) {
            // Terminating ends the bridge under the call; what follows kills the rest.
            keep = false;
        }
        disarm();
        if (keep && m_adopted > 0) {
            // Taken over from an earlier run: the user's, and left to them again.
            forgetConnection();
            m_adopted = 0;
            m_adoptedPipe.clear();
            m_group = 0;
            m_handedToUser = true;
            return;
        }
        if (keep && m_guardWrite >= 0) {
            // The user's documents: the office is theirs now and no longer ours to end.
            const char detach = 'd';
            if (::write(m_guardWrite, &detach, 1) == 1) {
                forgetConnection();
                int status = 0;
                while (::waitpid(m_guardian, &status, 0) < 0 && errno == EINTR) {
                }
                m_guardian = 0;
                m_group = 0;
                ::close(m_guardWrite);
                m_guardWrite = -1;
                m_handedToUser = true;
                return;
            }
        }
    }
    forgetConnection();
    // The guardian leaves once the office has ended; after the grace the group is killed.
    const auto until = Clock::now() + std::chrono::milliseconds(kGraceMs);
    while (processAlive() && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    killProcess();
}

void Office::attachApplication() {
    std::lock_guard lock(m_callMutex);
    ++m_applications;
}

void Office::detachApplication() {
    std::lock_guard lock(m_callMutex);
    if (m_applications > 0)
        --m_applications;
    if (m_applications == 0 && m_purpose == Purpose::Search)
        shutDown(false);
}

void Office::rememberPath(const std::string& url, const std::string& path) {
    m_pathsByUrl[url] = path;
}

std::string Office::pathOfUrl(const std::string& url) const {
    if (const auto it = m_pathsByUrl.find(url); it != m_pathsByUrl.end())
        return it->second;
    return pathFromFileUrl(url).value_or(url);
}

namespace {

// The document of the office that is the file at `path` (compared as files, so that another
// spelling of the path or a link to the file finds it too); null when none is.
css::uno::Reference<css::lang::XComponent> openDocumentOf(Office& office, const std::string& path) {
    const auto enumeration = office.desktop()->getComponents()->createEnumeration();
    while (enumeration->hasMoreElements()) {
        css::uno::Reference<css::frame::XModel> model(enumeration->nextElement(),
                                                      css::uno::UNO_QUERY);
        if (!model.is())
            continue;
        const auto filePath = pathFromFileUrl(toUtf8(model->getURL()));
        std::error_code error;
        if (filePath && std::filesystem::equivalent(*filePath, path, error))
            return css::uno::Reference<css::lang::XComponent>(model, css::uno::UNO_QUERY);
    }
    return {};
}

}  // namespace

css::uno::Reference<css::lang::XComponent> loadDocument(Office& office, const std::string& path,
                                                        bool hidden, bool readOnly, bool* reused) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        fail(kCannotOpen, "No such file: " + path);
    const std::string url = fileUrlFromPath(path);
    if (reused != nullptr)
        *reused = false;
    if (office.purpose() == Purpose::Open) {
        if (auto open = openDocumentOf(office, path); open.is()) {
            showDocumentWindow(open);
            office.rememberPath(url, path);
            office.setLastDocument(open);
            if (reused != nullptr)
                *reused = true;
            return open;
        }
    }
    css::uno::Sequence<css::beans::PropertyValue> properties(4);
    auto* property = properties.getArray();
    property[0].Name = "Hidden";
    property[0].Value <<= hidden;
    property[1].Name = "ReadOnly";
    property[1].Value <<= readOnly;
    property[2].Name = "MacroExecutionMode";
    property[2].Value <<= css::document::MacroExecMode::NEVER_EXECUTE;
    property[3].Name = "UpdateDocMode";
    property[3].Value <<= css::document::UpdateDocMode::NO_UPDATE;
    // No InteractionHandler: a password or a repair question makes the load give up at once.
    css::uno::Reference<css::frame::XComponentLoader> loader(office.desktop(),
                                                             css::uno::UNO_QUERY_THROW);
    css::uno::Reference<css::lang::XComponent> document =
        loader->loadComponentFromURL(toOUString(url), "_blank", 0, properties);
    if (!document.is()) {
        fail(kCannotOpen,
             "LibreOffice cannot open the file (damaged, protected by a password "
             "or of an unknown kind): " +
                 path);
    }
    office.rememberPath(url, path);
    if (office.purpose() == Purpose::Open)
        office.setLastDocument(document);
    return document;
}

void closeDocument(const css::uno::Reference<css::lang::XComponent>& document) {
    if (!document.is())
        return;
    css::uno::Reference<css::util::XCloseable> closeable(document, css::uno::UNO_QUERY);
    if (closeable.is()) {
        // true: should something veto, it takes over closing the document later.
        closeable->close(true);
    } else {
        document->dispose();
    }
}

std::vector<css::uno::Reference<css::lang::XComponent>> openDocuments(Office& office,
                                                                      const char* service) {
    std::vector<css::uno::Reference<css::lang::XComponent>> documents;
    const auto enumeration = office.desktop()->getComponents()->createEnumeration();
    const rtl::OUString wanted = rtl::OUString::createFromAscii(service);
    while (enumeration->hasMoreElements()) {
        css::uno::Reference<css::lang::XServiceInfo> info(enumeration->nextElement(),
                                                          css::uno::UNO_QUERY);
        if (info.is() && info->supportsService(wanted)) {
            documents.emplace_back(info, css::uno::UNO_QUERY);
        }
    }
    return documents;
}

ApplicationHold::ApplicationHold(std::shared_ptr<Office> office, const char* documentService,
                                 const char* name)
    : m_office(std::move(office)), m_documentService(documentService), m_name(name) {
    m_office->attachApplication();
}

ApplicationHold::~ApplicationHold() {
    quit();
}

void ApplicationHold::setVisible(bool visible) {
    if (!visible || !m_office || m_office->purpose() != Purpose::Open)
        return;
    m_office->call([&] {
        // The document opened last, while the user has not closed it, is the one they are
        // taken to.
        css::uno::Reference<css::lang::XComponent> front;
        for (const auto& document : openDocuments(*m_office, m_documentService)) {
            showDocumentWindow(document, false);
            if (document == m_office->lastDocument())
                front = document;
        }
        if (front.is())
            showDocumentWindow(front);
    });
}

void ApplicationHold::quit() {
    if (!m_office)
        return;
    auto office = std::move(m_office);
    office->detachApplication();
}

Office& ApplicationHold::office() {
    if (!m_office)
        fail(kOfficeLost, std::string(m_name) + " has quit");
    return *m_office;
}

void showDocumentWindow(const css::uno::Reference<css::lang::XComponent>& document, bool toFront) {
    css::uno::Reference<css::frame::XModel> model(document, css::uno::UNO_QUERY);
    if (!model.is() || !model->getCurrentController().is())
        return;
    const auto frame = model->getCurrentController()->getFrame();
    if (!frame.is())
        return;
    const auto window = frame->getContainerWindow();
    if (!window.is())
        return;
    window->setVisible(true);
    css::uno::Reference<css::awt::XTopWindow> top(window, css::uno::UNO_QUERY);
    if (top.is() && toFront)
        top->toFront();
}

}  // namespace ferretta::platform::office::lo
