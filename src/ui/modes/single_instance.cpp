#include "ui/modes/single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>

#include "platform/cp932.h"

namespace ferretta::ui::modes {

namespace {

constexpr char kAnswer = '\x01';
constexpr int kBacklog = 16;
// How long a start keeps asking a holder that does not answer yet (bound, not yet listening).
constexpr int kClaimAttempts = 50;
constexpr auto kClaimPause = std::chrono::milliseconds(20);
constexpr int kIncompleteFrameMs = 10000;
constexpr std::size_t kMaxDisplayLength = 64;

// The abstract address of a name: a zero byte, then the name, nothing after it (the length
// given to the kernel ends the name).
socklen_t abstractAddress(std::string_view name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

FileDescriptor newSocket() {
    return FileDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

// The user the peer of a connected socket runs as; false when the system does not say.
bool peerUid(int fd, uid_t& uid) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    uid = credentials.uid;
    return true;
}

bool peerIsThisUser(int fd) {
    uid_t uid = 0;
    return peerUid(fd, uid) && uid == ::getuid();
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string sanitizedDisplay(std::string_view display) {
    // ":0.0" and ":0" are the same server; only a screen number after the last colon goes.
    const std::size_t colon = display.rfind(':');
    if (colon != std::string_view::npos) {
        const std::size_t dot = display.find('.', colon);
        if (dot != std::string_view::npos && dot + 1 < display.size() &&
            std::all_of(display.begin() + static_cast<std::ptrdiff_t>(dot) + 1, display.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            display = display.substr(0, dot);
        }
    }
    std::string out;
    for (char c : display.substr(0, kMaxDisplayLength)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == ':' || c == '.' || c == '_' || c == '-';
        out += plain ? c : '_';
    }
    return out;
}

}  // namespace

// One connection of a second start: reads its frame, hands it to the receiver, answers, ends.
// It deletes itself when done, but never while the receiver runs (a message box's event loop
// may see the peer go away meanwhile).
class HandOffConnection : public QObject {
  public:
    HandOffConnection(QLocalSocket* socket, const InstanceServer::Receiver& receiver,
                      QObject* parent)
        : QObject(parent), m_socket(socket), m_receiver(receiver) {
        m_socket->setParent(this);
        connect(m_socket, &QLocalSocket::readyRead, this, [this] { readFrame(); });
        connect(m_socket, &QLocalSocket::disconnected, this, [this] { finish(); });
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (!m_handling)
                drop();
        });
        m_timer.setSingleShot(true);
        m_timer.start(kIncompleteFrameMs);
        // Bytes may have come with the connection, before the signal was connected.
        QTimer::singleShot(0, this, [this] { readFrame(); });
    }

    // Drops the connection unless its folder is being handled; answers whether it did.
    bool dropIfIdle() {
        if (m_handling)
            return false;
        if (!m_done)
            drop();
        return true;
    }

  private:
    void readFrame() {
        if (m_handling || m_done)
            return;
        const QByteArray bytes = m_socket->readAll();
        switch (m_reader.feed(std::string_view(bytes.constData(), bytes.size()))) {
            case HandOffFrameReader::Status::NeedMore:
                if (m_socket->state() != QLocalSocket::ConnectedState)
                    drop();
                return;
            case HandOffFrameReader::Status::Invalid:
                drop();
                return;
            case HandOffFrameReader::Status::Complete:
                break;
        }
        m_timer.stop();
        m_handling = true;
        try {
            if (m_receiver)
                m_receiver(m_reader.payload());
        } catch (const std::exception& e) {
            // The running window goes on; the sender still gets its answer.
            std::fprintf(stderr, "ferretta: a handed-over folder failed: %s\n", e.what());
        }
        m_handling = false;
        m_done = true;
        if (m_socket->state() == QLocalSocket::ConnectedState) {
            m_socket->write(&kAnswer, 1);
            m_socket->flush();
            // Waits for the answer to be written, then reports disconnected -> finish().
            m_socket->disconnectFromServer();
        }
        if (m_socket->state() == QLocalSocket::UnconnectedState)
            deleteLater();
    }

    void finish() {
        if (m_handling)
            return;  // readFrame deletes after the receiver returns
        if (!m_done)
            readFrame();  // the last bytes may have come with the close
        if (!m_handling)
            deleteLater();
    }

    void drop() {
        m_done = true;
        m_timer.stop();
        m_socket->abort();
        deleteLater();
    }

    QLocalSocket* m_socket;
    const InstanceServer::Receiver& m_receiver;
    HandOffFrameReader m_reader;
    QTimer m_timer{this};
    bool m_handling = false;
    bool m_done = false;
};

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        reset();
        m_fd = other.release();
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    reset();
}

int FileDescriptor::release() noexcept {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void FileDescriptor::reset() noexcept {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::string instanceNameFor(unsigned uid, std::string_view display) {
    return "ferretta-" + std::to_string(uid) + "-" + sanitizedDisplay(display);
}

std::string instanceName() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        display = std::getenv("WAYLAND_DISPLAY");
    return instanceNameFor(::getuid(), display != nullptr ? display : "");
}

InstanceClaim claimInstance(std::string_view name) {
    sockaddr_un address{};
    const socklen_t length = abstractAddress(name, address);
    const auto* generic = reinterpret_cast<const sockaddr*>(&address);
    for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
        FileDescriptor listener = newSocket();
        if (!listener.valid())
            return {};
        // bind is the atomic step: of all starts, one gets the name.
        if (::bind(listener.get(), generic, length) == 0) {
            if (::listen(listener.get(), kBacklog) != 0)
                return {};
            return {std::move(listener), {}};
        }
        if (errno != EADDRINUSE)
            return {};
        listener.reset();

        FileDescriptor connection = newSocket();
        if (!connection.valid())
            return {};
        int result = 0;
        do {
            result = ::connect(connection.get(), generic, length);
        } while (result != 0 && errno == EINTR);
        if (result == 0) {
            // A name squatted by another user must not swallow this user's folder.
            if (!peerIsThisUser(connection.get()))
                return {};
            return {{}, std::move(connection)};
        }
        // Refused: the holder has bound but does not listen yet, or is on its way out.
        if (errno != ECONNREFUSED && errno != EAGAIN)
            return {};
        std::this_thread::sleep_for(kClaimPause);
    }
    return {};
}

bool sendMessageMain(int connection, std::string_view commandLine) {
    const std::string frame = handOffFrame(handOffPayload(commandLine));
    if (frame.empty() || !writeAll(connection, frame))
        return false;
    char answer = 0;
    for (;;) {
        const ssize_t got = ::recv(connection, &answer, 1, 0);
        if (got == 1)
            return answer == kAnswer;
        if (got < 0 && errno == EINTR)
            continue;
        return false;
    }
}

InstanceServer::InstanceServer(Receiver receiver)
    : m_receiver(std::move(receiver)), m_connections(std::make_unique<QObject>()) {}

InstanceServer::~InstanceServer() {
    close();
    // Connections still open are dropped with their parent; their senders see the close.
    m_connections.reset();
}

bool InstanceServer::listen(FileDescriptor listener) {
    close();
    if (!listener.valid())
        return false;
    const int flags = ::fcntl(listener.get(), F_GETFL);
    if (flags < 0 || ::fcntl(listener.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        return false;
    m_listener = std::move(listener);
    m_notifier = std::make_unique<QSocketNotifier>(m_listener.get(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_connections.get(),
                     [this] { acceptPending(); });
    // Connections that waited since the claim.
    QTimer::singleShot(0, m_connections.get(), [this] { acceptPending(); });
    return true;
}

void InstanceServer::close() {
    m_notifier.reset();
    m_listener.reset();
}

bool InstanceServer::isListening() const {
    return m_listener.valid();
}

std::size_t InstanceServer::openConnections() {
    std::erase_if(m_order, [](const QPointer<HandOffConnection>& c) { return c.isNull(); });
    return m_order.size();
}

bool InstanceServer::dropOldest() {
    openConnections();
    for (auto& connection : m_order) {
        if (connection && connection->dropIfIdle()) {
            connection.clear();
            return true;
        }
    }
    return false;
}

void InstanceServer::acceptPending() {
    while (m_listener.valid()) {
        const int fd = ::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK)
                return;
            if (error == EINTR || error == ECONNABORTED || error == EPROTO)
                continue;
            // Out of descriptors or memory: the oldest waiting connection makes room, else
            // taking connections pauses; the listener itself is never given up.
            if ((error == EMFILE || error == ENFILE) && dropOldest())
                continue;
            m_notifier->setEnabled(false);
            QTimer::singleShot(100, m_connections.get(), [this] {
                if (m_notifier)
                    m_notifier->setEnabled(true);
                acceptPending();
            });
            return;
        }
        FileDescriptor connection(fd);
        if (!peerIsThisUser(fd))
            continue;
        if (openConnections() >= maxPendingHandOffs && !dropOldest())
            continue;  // every one is being handled: this one waits no more than the rest
        auto* socket = new QLocalSocket();
        if (!socket->setSocketDescriptor(connection.get(), QLocalSocket::ConnectedState,
                                         QIODevice::ReadWrite)) {
            delete socket;
            continue;
        }
        connection.release();  // the socket owns it now
        m_order.emplace_back(new HandOffConnection(socket, m_receiver, m_connections.get()));
    }
}

}  // namespace ferretta::ui::modes
