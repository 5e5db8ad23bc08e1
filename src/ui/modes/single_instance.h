#pragma once
// One running window per user and display. The first start claims a name in Linux's abstract
// socket namespace (no file is left behind: the name goes with the process that holds it, and
// the socket is close-on-exec, so an editor started from the window cannot keep it). A later
// start finds the name taken, connects, hands over its command line and waits until the
// running window has dealt with it (its message box included), then ends without a window.
//
// Framing on the connection: a 4-byte little-endian length N, then N payload bytes, where the
// payload is the command line in CP932 followed by three zero bytes (the window's copy-data
// message). The receiver answers with one byte once the folder was accepted or refused; a
// connection that closes before a whole frame, or announces more than maxHandOffPayload bytes,
// is dropped without an answer. Both ends check that the peer runs as the same user.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "run/hand_off.h"

#include <QPointer>

class QObject;
class QSocketNotifier;

namespace ferretta::ui::modes {

// The wire format lives in the core (run/hand_off.h); both ends here use it.
using run::handOffFrame;
using run::HandOffFrameReader;
using run::handOffHeaderSize;
using run::handOffPayload;
using run::handOffText;
using run::maxHandOffPayload;

// Owns a socket descriptor (closed on destruction); -1 holds none.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    bool valid() const noexcept { return m_fd >= 0; }
    int get() const noexcept { return m_fd; }
    int release() noexcept;
    void reset() noexcept;

  private:
    int m_fd = -1;
};

// "ferretta-<uid>-<display>": one instance per user and display, so a window on a virtual X
// server in a test does not answer for the user's desktop. The display is the one Qt will
// open (DISPLAY, else WAYLAND_DISPLAY); a trailing screen number (":0.0") is dropped,
// characters other than letters, digits and ":._-" become '_', and it is cut at 64 bytes.
std::string instanceName();
std::string instanceNameFor(unsigned uid, std::string_view display);

// What a start found under the name. At most one of the two holds a descriptor.
struct InstanceClaim {
    FileDescriptor listener;         // this process is the first: listening on the name
    FileDescriptor runningInstance;  // connected to the running instance (the same user)
};

// Claims the name or connects to its holder. Exactly one of any number of processes claiming
// at once gets the listener. A holder that does not answer yet (it bound the name but is not
// listening, or is ending) is asked again for about a second, and the name is claimed when it
// becomes free. Neither descriptor when sockets are unavailable, the name stays taken without
// an answer, or the holder runs as another user: the caller then runs alone, without hand-off.
InstanceClaim claimInstance(std::string_view name);

// The second start's side: sends the command line as one frame on the connection and blocks
// until the running instance answers that it dealt with it. False when the payload is too long,
// or the connection fails or closes without an answer (the hand-off is lost; nothing is
// reported). There is no time limit, as the running window's message box waits for the user.
bool sendMessageMain(int connection, std::string_view commandLine);

// The running instance's side, on the Qt event loop of the GUI thread. Each complete frame is
// passed to the receiver (a WndProc's copy-data message); the answer byte goes back when the
// receiver returns, also when it dropped the message because it was busy, so no sender waits
// for a message that will never be handled. A connection that sends nothing whole within ten
// seconds is dropped. However many connections come at once, the server keeps listening: at
// most maxPendingHandOffs stay open, a new one pushing out the oldest that is not being handled,
// and when the process runs out of descriptors the oldest goes too, or taking connections
// pauses for a moment.
class HandOffConnection;
inline constexpr std::size_t maxPendingHandOffs = 32;

class InstanceServer {
  public:
    using Receiver = std::function<void(std::string_view payload)>;

    explicit InstanceServer(Receiver receiver);
    ~InstanceServer();
    InstanceServer(const InstanceServer&) = delete;
    InstanceServer& operator=(const InstanceServer&) = delete;

    // Serves on the listener of claimInstance (connections that waited since the claim are
    // taken too). False, and the descriptor closed, when there is none.
    bool listen(FileDescriptor listener);
    // Stops taking new connections and gives up the name; a hand-off being handled finishes.
    void close();
    bool isListening() const;
    // The connections open now.
    std::size_t openConnections();

  private:
    void acceptPending();
    bool dropOldest();

    Receiver m_receiver;
    FileDescriptor m_listener;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // Parent of the open connections; they delete themselves when done.
    std::unique_ptr<QObject> m_connections;
    std::deque<QPointer<HandOffConnection>> m_order;  // oldest first
};

}  // namespace ferretta::ui::modes
