#pragma once
// One LibreOffice process of ours and the UNO connection to it: started on demand with a
// profile of its own, every call made under a watchdog, ended (or restarted) when it dies or
// stops answering. The Writer, Calc and Impress objects make all their UNO calls through
// Office::call, which is the only place where UNO exceptions become ferretta::Error.
#include <sys/types.h>

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "drivers/office/libreoffice.h"
#include "platform/error.h"
#include "platform/office/automation.h"

namespace ferretta::platform::office::lo {

namespace css = ::com::sun::star;

// Automation error numbers, borrowed from the ones Windows automation gives for the same case,
// as the signed 32-bit numbers its error objects report (0x800706BE is -2147023170).
constexpr long automationNumber(std::uint32_t hresult) {
    return static_cast<long>(static_cast<std::int32_t>(hresult));
}
inline constexpr long kOfficeLost = automationNumber(0x800706BE);   // died, stuck or cut off
inline constexpr long kCannotStart = automationNumber(0x80080005);  // could not be started
inline constexpr long kCallRefused = automationNumber(0x80020009);  // raised an error for a call
inline constexpr long kBadIndex = automationNumber(0x8002000B);     // index or name outside
inline constexpr long kCannotOpen = automationNumber(0x800A1436);   // document cannot be opened

[[noreturn]] void fail(long code, const std::string& what);

// UTF-16 of the office to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(const rtl::OUString& text);
std::u16string toU16(const rtl::OUString& text);
rtl::OUString toOUString(std::string_view utf8);

// Prefix of the pipe names of this program's offices; `pgrep -f` on it finds them.
std::string pipeNamePrefix();

class Office {
  public:
    // Starts nothing. pipeName must be unique among running offices.
    Office(LibreOfficeConfig config, Purpose purpose, std::string pipeName);
    // Ends the office (shutDown(purpose() == Purpose::Open)).
    ~Office();
    Office(const Office&) = delete;
    Office& operator=(const Office&) = delete;

    Purpose purpose() const { return m_purpose; }

    // Starts the office unless one of ours is up. Throws Error (kCannotStart) when soffice
    // cannot be started or does not accept the connection within startTimeoutMs.
    void ensureRunning();
    // Whether our office is up and connected; makes no call.
    bool isRunning();
    // Counts the office processes started; objects read from one remember its number.
    std::uint64_t generation() const { return m_generation; }

    // Runs body (which makes UNO calls through desktop()) under the watchdog, starting the
    // office first when needed. A UNO exception becomes Error (kCallRefused); a call that
    // outlives callTimeoutMs, or a dead office or connection, ends the office and becomes
    // Error (kOfficeLost); the next call starts a new office. Errors the body throws itself
    // pass unchanged.
    template <class F>
    auto call(F&& body) -> decltype(body()) {
        return callImpl(std::nullopt, std::forward<F>(body));
    }
    // The same for an object of office `generation`: throws Error (kOfficeLost) without
    // calling when that office is no longer the one running.
    template <class F>
    auto callOn(std::uint64_t generation, F&& body) -> decltype(body()) {
        return callImpl(generation, std::forward<F>(body));
    }

    // A document of a search office starts: its time limit (documentTimeoutMs) runs from the
    // next call (once the office is up) until the next document starts.
    void startDocumentClock();

    // Valid inside a call.
    const css::uno::Reference<css::frame::XDesktop2>& desktop() const { return m_desktop; }
    const css::uno::Reference<css::uno::XComponentContext>& context() const { return m_context; }

    // Ends the office: asks it to terminate, then kills its process group after a short
    // grace. With keepIfDocumentsOpen and documents still open in it, the office is left
    // running for the user instead (no longer ours). Never throws.
    void shutDown(bool keepIfDocumentsOpen);

    // The path a document was opened by, for its URL (Word's FullName is the path as given).
    void rememberPath(const std::string& url, const std::string& path);
    std::string pathOfUrl(const std::string& url) const;
    // The document an office for the user opened or brought forward last.
    void setLastDocument(const css::uno::Reference<css::lang::XComponent>& document) {
        m_lastDocument = document;
    }
    const css::uno::Reference<css::lang::XComponent>& lastDocument() const {
        return m_lastDocument;
    }

    // The applications (Word, Excel, PowerPoint objects) working in this office. When the
    // last one of a search office leaves, the office is ended.
    void attachApplication();
    void detachApplication();

  private:
    template <class F>
    auto callImpl(std::optional<std::uint64_t> generation, F&& body) -> decltype(body()) {
        using Result = decltype(body());
        if constexpr (std::is_void_v<Result>) {
            run(generation, body);
        } else {
            std::optional<Result> result;
            run(generation, [&] { result.emplace(body()); });
            return std::move(*result);
        }
    }
    void run(std::optional<std::uint64_t> generation, const std::function<void()>& body);
    void ensureRunningLocked();
    // A new name for every process: a killed office leaves its pipe behind.
    std::string currentPipe() const { return m_pipeName + "_" + std::to_string(m_generation); }
    // The pipe connected to: ours, or the one an adopted office listens on.
    std::string connectPipe() const {
        return m_adoptedPipe.empty() ? currentPipe() : m_adoptedPipe;
    }
    // An office for the user that an earlier run of ours left open on this profile (with the
    // user's documents in it) is taken over rather than started beside: a second office on the
    // profile would hand its start to that one and end. True when one was found and connected.
    bool adoptLeftover();
    void startProcess();
    void connect();
    bool processAlive();
    bool probe();
    void killProcess();
    void forgetConnection();
    void arm(int milliseconds);
    // The watchdog's limit for the next call, and whether the document's limit set it.
    int callLimitMs(bool& documentLimit) const;
    // Runs body on a helper thread while keepWaiting is asked; answers false when it said no
    // (the office is then killed). Exceptions of body pass to the caller.
    bool runWatched(const std::function<void()>& body);
    bool disarm();
    void watch();

    LibreOfficeConfig m_config;
    Purpose m_purpose;
    std::string m_pipeName;
    std::uint64_t m_generation = 0;
    bool m_connected = false;
    bool m_endedWhileStarting = false;  // the last connect failed because the office ended
    pid_t m_guardian = 0;  // our child that starts soffice and kills its group if we die
    pid_t m_adopted = 0;   // an office of an earlier run taken over (not our child)
    std::string m_adoptedPipe;
    bool m_handedToUser = false;  // the office of this generation was left to the user
    std::optional<std::chrono::steady_clock::time_point> m_documentDeadline;
    bool m_documentClockPending = false;
    std::atomic<pid_t> m_group = 0;
    int m_applications = 0;
    int m_guardWrite = -1;
    css::uno::Reference<css::uno::XComponentContext> m_context;
    css::uno::Reference<css::frame::XDesktop2> m_desktop;
    std::map<std::string, std::string> m_pathsByUrl;
    css::uno::Reference<css::lang::XComponent> m_lastDocument;
    std::recursive_mutex m_callMutex;

    // The watchdog: a thread that kills the office's process group once an armed deadline
    // passes (which makes the blocked call return with an exception).
    std::mutex m_watchMutex;
    std::condition_variable m_watchCondition;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_watchFired = false;
    bool m_watchStop = false;
    std::thread m_watchThread;
};

// Inside a call: loads the file (macros never run, links never updated, nothing prompts) and
// answers the document. In the office the user sees, a document that is open there already
// (the same file, by whatever path) is answered instead, its window brought to the front, and
// `reused` set: the user's copy, with their edits, is never opened a second time. Throws Error
// (kCannotOpen) when the office gives nothing back, as it does for a damaged or
// password-protected file.
css::uno::Reference<css::lang::XComponent> loadDocument(Office& office, const std::string& path,
                                                        bool hidden, bool readOnly,
                                                        bool* reused = nullptr);
// Inside a call: closes the document without saving.
void closeDocument(const css::uno::Reference<css::lang::XComponent>& document);
// Inside a call: the documents open in the office that support `service`, in the office's
// order (for example "com.sun.star.text.TextDocument").
std::vector<css::uno::Reference<css::lang::XComponent>> openDocuments(Office& office,
                                                                      const char* service);
// Inside a call: shows the windows of the document (an office for opening hits), in front of
// the others unless told not to.
void showDocumentWindow(const css::uno::Reference<css::lang::XComponent>& document,
                        bool toFront = true);

// What the Word, Excel and PowerPoint applications share: each keeps its office attached while
// it lives and gives it up at quit; showing one shows the user's documents of its kind.
class ApplicationHold {
  public:
    // `documentService` names the application's documents ("com.sun.star.text.TextDocument"),
    // `name` the application in the failure after quit ("Word has quit").
    ApplicationHold(std::shared_ptr<Office> office, const char* documentService, const char* name);
    ~ApplicationHold();
    ApplicationHold(const ApplicationHold&) = delete;
    ApplicationHold& operator=(const ApplicationHold&) = delete;

    // Visible = True shows the documents of an office the user sees. Hiding is never done to
    // such an office, and a search office is always hidden, so the rest does nothing.
    void setVisible(bool visible);
    // Gives the office up (it ends when nothing holds it any more); again does nothing.
    void quit();
    // The office; throws Error (kOfficeLost) after quit.
    Office& office();
    const std::shared_ptr<Office>& shared() const { return m_office; }

  private:
    std::shared_ptr<Office> m_office;
    const char* m_documentService;
    const char* m_name;
};

}  // namespace ferretta::platform::office::lo
