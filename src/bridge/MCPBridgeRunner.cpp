#include "bridge/MCPBridgeRunner.h"

#include "core/Paths.h"
#include "orchestration/OrchestrationToken.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace {

constexpr int kParseError = -32700;
constexpr int kMethodNotFound = -32601;
constexpr int kMaxSocketPathBytes = 104;

QJsonObject failure(const QString& text) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), text}};
}

QByteArray compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

}  // namespace

MCPBridgeRunner::MCPBridgeRunner(QString session, std::optional<QString> sockPath, std::optional<QString> token)
    : configDirectory(Paths::configDir()),
      session_(std::move(session)),
      sockPath_(std::move(sockPath)),
      token_(std::move(token)) {}

MCPBridgeRunner::~MCPBridgeRunner() { waitForToolCalls(); }

std::optional<MCPBridgeRunner::Fallback> MCPBridgeRunner::fallback() const {
    std::lock_guard lock(outLock_);
    return fallback_;
}

// ---- standard input and output ----

void MCPBridgeRunner::serve(int inputFd) {
    QByteArray buffer;
    qsizetype scanned = 0;
    bool discarding = false;  // inside a line that outgrew kMaxLine: skipped up to its line feed
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(inputFd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buffer.append(chunk, n);
        qsizetype start = 0;
        for (qsizetype nl; (nl = buffer.indexOf('\n', std::max(start, scanned))) >= 0; start = nl + 1) {
            if (discarding) {
                discarding = false;
                continue;
            }
            if (nl > start) handle(buffer.mid(start, nl - start));
        }
        buffer.remove(0, start);
        scanned = buffer.size();
        if (buffer.size() > maxLine) {
            if (!discarding) respondError(QJsonValue::Null, kParseError, QStringLiteral("Parse error"));
            discarding = true;
            buffer.clear();
            scanned = 0;
        }
    }
    // A last line without its line feed is not a complete message; it is dropped.
    waitForToolCalls();
}

void MCPBridgeRunner::handle(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        respondError(QJsonValue::Null, kParseError, QStringLiteral("Parse error"));
        return;
    }
    const QJsonObject message = doc.object();
    const QJsonValue methodValue = message.value(QStringLiteral("method"));
    const QString method = methodValue.isString() ? methodValue.toString() : QString();
    const bool hasId = message.contains(QStringLiteral("id"));
    const QJsonValue id = hasId ? message.value(QStringLiteral("id")) : QJsonValue(QJsonValue::Null);
    const QJsonValue paramsValue = message.value(QStringLiteral("params"));
    const QJsonObject params = paramsValue.isObject() ? paramsValue.toObject() : QJsonObject();

    if (method == QLatin1String("initialize")) {
        const QJsonValue requested = params.value(QStringLiteral("protocolVersion"));
        respond(id, {{QStringLiteral("protocolVersion"),
                      requested.isString() ? requested.toString() : QString::fromLatin1(kDefaultProtocolVersion)},
                     {QStringLiteral("capabilities"), QJsonObject{{QStringLiteral("tools"), QJsonObject()}}},
                     {QStringLiteral("serverInfo"),
                      QJsonObject{{QStringLiteral("name"), QString::fromLatin1(kServerName)},
                                  {QStringLiteral("version"), QString::fromLatin1(kServerVersion)}}}});
    } else if (method == QLatin1String("ping")) {
        respond(id, QJsonObject());
    } else if (method == QLatin1String("tools/list")) {
        respond(id, {{QStringLiteral("tools"), toolList()}});
    } else if (method == QLatin1String("tools/call")) {
        startToolCall(id, params);
    } else if (hasId) {
        respondError(id, kMethodNotFound, QStringLiteral("Method not found: ") + method);
    }
    // Any other notification (notifications/initialized among them) needs no answer.
}

void MCPBridgeRunner::respond(const QJsonValue& id, const QJsonObject& result) {
    const QByteArray frame = compact({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                      {QStringLiteral("id"), id},
                                      {QStringLiteral("result"), result}});
    std::lock_guard lock(outLock_);
    output(frame);
}

void MCPBridgeRunner::respondError(const QJsonValue& id, int code, const QString& message) {
    const QByteArray frame =
        compact({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                 {QStringLiteral("id"), id},
                 {QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}}}});
    std::lock_guard lock(outLock_);
    output(frame);
}

void MCPBridgeRunner::writeFrameToStdout(const QByteArray& frame) {
    QByteArray bytes = frame;
    bytes.append('\n');
    qsizetype off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + off, size_t(bytes.size() - off));
        if (n < 0 && errno == EINTR) continue;
        if (n < 1) return;  // the agent went away; SIGPIPE is ignored, so this is silent
        off += n;
    }
}

// ---- tool calls ----

void MCPBridgeRunner::startToolCall(const QJsonValue& id, const QJsonObject& params) {
    reapFinishedCalls();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(callsMutex_);
    try {
        // Each call gets its own thread: several may be in flight, and any of them may wait
        // minutes for the user.
        std::thread thread([this, id, params, done] {
            pthread_setname_np(pthread_self(), "mcp.toolcall");
            handleToolCall(id, params);
            done->store(true);
        });
        calls_.push_back({std::move(thread), std::move(done)});
    } catch (const std::system_error&) {
        handleToolCall(id, params);  // no thread to be had: answer on the reader instead
    }
}

void MCPBridgeRunner::reapFinishedCalls() {
    std::lock_guard lock(callsMutex_);
    for (auto it = calls_.begin(); it != calls_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = calls_.erase(it);
        } else {
            ++it;
        }
    }
}

void MCPBridgeRunner::waitForToolCalls() {
    std::list<Call> pending;
    {
        std::lock_guard lock(callsMutex_);
        pending.swap(calls_);
    }
    for (Call& call : pending) call.thread.join();
}

void MCPBridgeRunner::handleToolCall(const QJsonValue& id, const QJsonObject& params) {
    const QJsonValue nameValue = params.value(QStringLiteral("name"));
    const QJsonValue argsValue = params.value(QStringLiteral("arguments"));
    const QString name = nameValue.isString() ? nameValue.toString() : QString();
    const QJsonObject arguments = argsValue.isObject() ? argsValue.toObject() : QJsonObject();

    const QJsonObject reply = sendToApp(name, arguments);
    QString text;
    bool isError;
    if (reply.value(QStringLiteral("ok")) == QJsonValue(true)) {
        const QJsonValue result = reply.value(QStringLiteral("result"));
        if (result.isUndefined() || result.isNull())
            text = QStringLiteral("{}");
        else if (result.isObject())
            text = QString::fromUtf8(compact(result.toObject()));
        else if (result.isArray())
            text = QString::fromUtf8(QJsonDocument(result.toArray()).toJson(QJsonDocument::Compact));
        else
            text = result.toVariant().toString();  // a bare value: its plain description
        isError = false;
    } else {
        const QJsonValue error = reply.value(QStringLiteral("error"));
        text = error.isString() ? error.toString() : QStringLiteral("unknown orchestration error");
        isError = true;
    }
    respond(id, {{QStringLiteral("content"),
                  QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), text}}}},
                 {QStringLiteral("isError"), isError}});
}

QJsonObject MCPBridgeRunner::sendToApp(const QString& tool, const QJsonObject& args) {
    if (!sockPath_) return failure(QStringLiteral("bridge launched without VRNX_ORCH_SOCK"));

    // A socket found after the application restarted is tried first, until it stops answering.
    if (std::optional<Fallback> remembered = fallback()) {
        const int fd = connectSocket(remembered->path);
        if (fd >= 0) {
            QJsonObject reply = exchange(fd, tool, args, remembered->token);
            ::close(fd);
            return reply;
        }
        std::lock_guard lock(outLock_);
        if (fallback_ && fallback_->path == remembered->path) fallback_.reset();
    }

    if (const int fd = connectSocket(*sockPath_); fd >= 0) {
        QJsonObject reply = exchange(fd, tool, args, token_);
        ::close(fd);
        return reply;
    }

    if (std::optional<QString> found = discoverLiveSocket(configDirectory)) {
        if (const int fd = connectSocket(*found); fd >= 0) {
            std::optional<QString> token = OrchestrationToken::read(configDirectory + QStringLiteral("/orch-token"));
            if (!token) token = token_;
            {
                std::lock_guard lock(outLock_);
                fallback_ = Fallback{*found, token};
            }
            QJsonObject reply = exchange(fd, tool, args, token);
            ::close(fd);
            return reply;
        }
    }
    return failure(QStringLiteral("Varnix app is not reachable (is it running?)"));
}

QJsonObject MCPBridgeRunner::exchange(int fd, const QString& tool, const QJsonObject& args,
                                      const std::optional<QString>& token) {
    timeval tv{};
    tv.tv_sec = receiveTimeoutSeconds;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    qint64 id;
    {
        std::lock_guard lock(outLock_);
        id = ++nextSockId_;
    }
    QJsonObject request{{QStringLiteral("id"), id},
                        {QStringLiteral("session"), session_},
                        {QStringLiteral("tool"), tool},
                        {QStringLiteral("args"), args}};
    if (token) request.insert(QStringLiteral("token"), *token);
    QByteArray bytes = compact(request);
    if (bytes.isEmpty()) return failure(QStringLiteral("could not encode request"));
    bytes.append('\n');

    qsizetype off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + off, size_t(bytes.size() - off), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 1) break;
        off += n;
    }

    QByteArray buffer;
    qsizetype nl = -1;
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 1) break;  // end of stream, time limit or error
        const qsizetype from = buffer.size();
        buffer.append(chunk, n);
        if ((nl = buffer.indexOf('\n', from)) >= 0) break;
        if (buffer.size() > maxLine) return failure(QStringLiteral("no response from app"));
    }
    if (nl < 0) return failure(QStringLiteral("Varnix app did not respond in time"));

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(buffer.left(nl), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return failure(QStringLiteral("no response from app"));
    return doc.object();
}

// ---- sockets ----

int MCPBridgeRunner::connectSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const QByteArray native = QFile::encodeName(path);
    if (path.toUtf8().size() >= kMaxSocketPathBytes) {
        ::close(fd);
        return -1;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, native.constData(), std::min<size_t>(size_t(native.size()), kMaxSocketPathBytes - 1));
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::optional<QString> MCPBridgeRunner::discoverLiveSocket(const QString& directory) {
    QDir dir(directory);
    if (!dir.exists()) return std::nullopt;
    std::vector<Candidate> candidates;
    // Unsorted: ties in modification time keep the listing order.
    const QStringList names = dir.entryList(QDir::System | QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QString& name : names) {
        if (!name.startsWith(QLatin1String("orchestrator-")) || !name.endsWith(QLatin1String(".sock"))) continue;
        const QFileInfo info(dir.filePath(name));
        candidates.push_back({info.filePath(), info.lastModified()});
    }
    return pickMostRecentLiveSocket(std::move(candidates), [](const QString& path) {
        const int fd = connectSocket(path);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    });
}

std::optional<QString> MCPBridgeRunner::pickMostRecentLiveSocket(std::vector<Candidate> candidates,
                                                                 const std::function<bool(const QString&)>& isAlive) {
    auto when = [](const Candidate& c) { return c.modified.isValid() ? c.modified.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min(); };
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](const Candidate& a, const Candidate& b) { return when(a) > when(b); });
    for (const Candidate& c : candidates)
        if (isAlive(c.path)) return c.path;
    return std::nullopt;
}
