#include "orchestration/OrchestrationServer.h"

#include "core/Log.h"
#include "core/Paths.h"
#include "orchestration/OrchestrationToken.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

void log(const QString& message) { SystemLog::write(u"Orchestration", message); }

// A client that stops reading must not pin its connection thread in send() for ever.
constexpr int kSendTimeoutSeconds = 30;

void setSendTimeout(int fd) {
    timeval tv{};
    tv.tv_sec = kSendTimeoutSeconds;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool isTransientAcceptError(int err) {
    return err == EINTR || err == ECONNABORTED || err == EPROTO;
}

// Out of descriptors or memory: the condition may pass, so the loop waits instead of dying.
bool isResourceAcceptError(int err) {
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

}  // namespace

OrchestrationServer& OrchestrationServer::shared() {
    static OrchestrationServer* instance = new OrchestrationServer(
        OrchestrationToken::loadOrCreate(OrchestrationToken::defaultPath(), OrchestrationToken::make));
    return *instance;
}

OrchestrationServer::OrchestrationServer(QString token, Handler handler)
    : token_(std::move(token)), handler_(std::move(handler)) {}

OrchestrationServer::~OrchestrationServer() {
    stop();
    std::unique_lock lock(connMutex_);
    for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
    connDone_.wait(lock, [this] { return connections_.empty(); });
}

QString OrchestrationServer::defaultSocketPath() {
    QDir().mkpath(Paths::configDir());
    return Paths::configFile(QStringLiteral("orchestrator-%1.sock").arg(::getpid()));
}

QJsonObject OrchestrationServer::unavailableResponse(const QString& tool) {
    return {{QStringLiteral("ok"), false},
            {QStringLiteral("error"),
             QStringLiteral("The orchestration tools are not available in this build of Varnix "
                            "(tool '%1' was not run).")
                 .arg(tool)}};
}

void OrchestrationServer::setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

QString OrchestrationServer::socketPath() const {
    std::lock_guard lock(mutex_);
    return socketPath_;
}

void OrchestrationServer::start() {
    {
        std::lock_guard lock(mutex_);
        if (listenFd_ >= 0) return;
    }
    start(defaultSocketPath());
}

void OrchestrationServer::start(const QString& path) {
    std::lock_guard lock(mutex_);
    if (listenFd_ >= 0) return;
    // Bound here rather than on the accept thread, so the path is known the moment start()
    // returns and a second start() cannot race the first.
    const QByteArray native = QFile::encodeName(path);
    ::unlink(native.constData());  // a socket left by a crashed run with the same pid

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        log(QStringLiteral("socket() failed: %1").arg(errno));
        return;
    }
    if (path.toUtf8().size() >= kMaxSocketPathBytes) {
        log(QStringLiteral("socket path too long: %1").arg(path));
        ::close(fd);
        return;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, native.constData(), std::min<size_t>(size_t(native.size()), kMaxSocketPathBytes - 1));
    // Linux creates the file with the socket inode's mode, so it is never reachable by others.
    ::fchmod(fd, 0600);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        log(QStringLiteral("bind() failed: %1").arg(errno));
        ::close(fd);
        return;
    }
    ::chmod(native.constData(), 0600);
    if (::listen(fd, 8) != 0) {
        log(QStringLiteral("listen() failed: %1").arg(errno));
        ::close(fd);
        ::unlink(native.constData());
        return;
    }
    try {
        acceptThread_ = std::thread([this, fd] { acceptLoop(fd); });
    } catch (const std::system_error& e) {
        log(QStringLiteral("could not start the accept thread: %1").arg(QString::fromLocal8Bit(e.what())));
        ::close(fd);
        ::unlink(native.constData());
        return;
    }
    listenFd_ = fd;
    socketPath_ = path;
    log(QStringLiteral("listening at %1").arg(path));
}

void OrchestrationServer::stop() {
    int fd;
    QString path;
    std::thread loop;
    {
        std::lock_guard lock(mutex_);
        fd = listenFd_;
        path = socketPath_;
        listenFd_ = -1;
        socketPath_.clear();
        loop = std::move(acceptThread_);
    }
    // close() alone does not wake a thread blocked in accept() on Linux; shutdown() does. The
    // descriptor is closed only after the loop is gone, so its number cannot be reused under it.
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    if (loop.joinable()) loop.join();
    if (fd >= 0) ::close(fd);
    if (!path.isEmpty()) ::unlink(QFile::encodeName(path).constData());
}

void OrchestrationServer::acceptLoop(int listenFd) {
    pthread_setname_np(pthread_self(), "orch.accept");
    for (;;) {
        const int client = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            const int err = errno;
            if (isTransientAcceptError(err)) continue;
            if (isResourceAcceptError(err)) {
                {
                    std::lock_guard lock(mutex_);
                    if (listenFd_ != listenFd) return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            return;  // stop() shut the socket down (EINVAL), or it is broken for good
        }
        setSendTimeout(client);
        beginConnection(client);
        try {
            // One thread per connection: a tool may wait minutes for the user, and a shared pool
            // would let two such waits starve every other client.
            std::thread([this, client] {
                pthread_setname_np(pthread_self(), "orch.client");
                serve(client);
            }).detach();
        } catch (const std::system_error&) {
            endConnection(client);
        }
    }
}

void OrchestrationServer::beginConnection(int fd) {
    std::lock_guard lock(connMutex_);
    connections_.insert(fd);
}

void OrchestrationServer::endConnection(int fd) {
    std::lock_guard lock(connMutex_);
    connections_.erase(fd);
    ::close(fd);
    connDone_.notify_all();
}

void OrchestrationServer::serve(int fd) {
    {
        std::lock_guard lock(connMutex_);
        connections_.insert(fd);  // no-op when the accept loop registered it
    }
    QByteArray buffer;
    qsizetype scanned = 0;  // bytes of `buffer` already known to hold no line feed
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buffer.append(chunk, n);
        qsizetype start = 0;
        for (qsizetype nl; (nl = buffer.indexOf('\n', std::max(start, scanned))) >= 0; start = nl + 1) {
            if (nl > start) handleLine(buffer.mid(start, nl - start), fd);
        }
        buffer.remove(0, start);
        scanned = buffer.size();
        if (buffer.size() > kMaxRequestLine) {
            log(QStringLiteral("request line longer than %1 bytes; closing the connection").arg(kMaxRequestLine));
            break;
        }
    }
    endConnection(fd);  // a partial line left in the buffer is dropped
}

bool OrchestrationServer::tokenMatches(const std::optional<QString>& candidate) const {
    if (!candidate || token_.isEmpty()) return false;
    const QByteArray a = candidate->toUtf8();
    const QByteArray b = token_.toUtf8();
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

QJsonObject OrchestrationServer::response(const QByteArray& line) const {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("malformed JSON request")}};
    const QJsonObject request = doc.object();

    std::optional<QString> candidate;
    if (const QJsonValue t = request.value(QStringLiteral("token")); t.isString()) candidate = t.toString();

    QJsonObject reply;
    if (!tokenMatches(candidate)) {
        log(QStringLiteral("rejected request with missing/invalid token"));
        reply = {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("unauthorized")}};
    } else {
        const QJsonValue session = request.value(QStringLiteral("session"));
        const QJsonValue tool = request.value(QStringLiteral("tool"));
        const QJsonValue args = request.value(QStringLiteral("args"));
        const QString sessionText = session.isString() ? session.toString() : QStringLiteral("current");
        const QString toolText = tool.isString() ? tool.toString() : QString();
        const QJsonObject argsObject = args.isObject() ? args.toObject() : QJsonObject();
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            handler = handler_;
        }
        try {
            reply = handler ? handler(sessionText, toolText, argsObject) : unavailableResponse(toolText);
        } catch (const std::exception& e) {
            // A throwing tool must not take the application down with its connection thread.
            reply = {{QStringLiteral("ok"), false},
                     {QStringLiteral("error"), QStringLiteral("internal error: %1").arg(QString::fromLocal8Bit(e.what()))}};
        }
    }
    if (request.contains(QStringLiteral("id"))) reply.insert(QStringLiteral("id"), request.value(QStringLiteral("id")));
    return reply;
}

void OrchestrationServer::handleLine(const QByteArray& line, int fd) {
    QByteArray bytes = QJsonDocument(response(line)).toJson(QJsonDocument::Compact);
    if (bytes.isEmpty()) return;
    bytes.append('\n');
    qsizetype off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + off, size_t(bytes.size() - off), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return;
        if (n < 0) {
            if (errno == EPIPE)
                log(QStringLiteral("client went away mid-response (EPIPE)"));
            else
                log(QStringLiteral("write() failed: %1").arg(errno));
            return;
        }
        off += n;
    }
}
