#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// One bridge process: JSON-RPC 2.0 over newline-delimited stdin/stdout, the handshake and tool
// list answered here, every tool call relayed over a fresh control-socket connection.
class MCPBridgeRunner {
public:
    static constexpr const char* kServerName = "varnix-orchestrator";
    static constexpr const char* kServerVersion = "0.1.0";
    static constexpr const char* kDefaultProtocolVersion = "2024-11-05";
    // A stuck control socket answers "did not respond in time" after this long; a merge that
    // waits for the user's review fits well inside it.
    static constexpr int kReceiveTimeoutSeconds = 900;
    // Lines (requests on stdin, answers from the app) longer than this are not buffered further.
    static constexpr qsizetype kMaxLine = 64 * 1024 * 1024;

    struct Candidate {
        QString path;
        QDateTime modified;  // invalid when unknown: counts as the distant past
    };
    struct Fallback {
        QString path;
        std::optional<QString> token;
    };

    MCPBridgeRunner(QString session, std::optional<QString> sockPath, std::optional<QString> token);
    ~MCPBridgeRunner();  // waits for tool calls still in flight
    MCPBridgeRunner(const MCPBridgeRunner&) = delete;
    MCPBridgeRunner& operator=(const MCPBridgeRunner&) = delete;

    // Reads `inputFd` until end of input, then waits for every tool call in flight.
    void serve(int inputFd = 0);
    void handle(const QByteArray& line);
    // Waits for every tool call started so far (the barrier at end of input).
    void waitForToolCalls();

    void respond(const QJsonValue& id, const QJsonObject& result);
    void respondError(const QJsonValue& id, int code, const QString& message);
    void handleToolCall(const QJsonValue& id, const QJsonObject& params);
    QJsonObject sendToApp(const QString& tool, const QJsonObject& args);
    QJsonObject exchange(int fd, const QString& tool, const QJsonObject& args, const std::optional<QString>& token);

    // A connected socket, or -1.
    static int connectSocket(const QString& path);
    // The newest "orchestrator-*.sock" in `directory` that accepts a connection.
    static std::optional<QString> discoverLiveSocket(const QString& directory);
    static std::optional<QString> pickMostRecentLiveSocket(std::vector<Candidate> candidates,
                                                           const std::function<bool(const QString&)>& isAlive);
    static void writeFrameToStdout(const QByteArray& frame);
    static QJsonArray toolList();

    const QString& session() const { return session_; }
    std::optional<Fallback> fallback() const;

    // Injection points for tests; the defaults are the real stdout, the user's config directory
    // and the 900-second limit.
    std::function<void(const QByteArray&)> output = &MCPBridgeRunner::writeFrameToStdout;
    QString configDirectory;
    int receiveTimeoutSeconds = kReceiveTimeoutSeconds;
    qsizetype maxLine = kMaxLine;

private:
    void startToolCall(const QJsonValue& id, const QJsonObject& params);
    void reapFinishedCalls();

    const QString session_;
    const std::optional<QString> sockPath_;
    const std::optional<QString> token_;

    // Guards standard output, nextSockId_ and fallback_.
    mutable std::mutex outLock_;
    qint64 nextSockId_ = 0;
    std::optional<Fallback> fallback_;

    // One thread per tool call ("varnix.mcp.toolcall"): a merge may wait minutes for the user.
    struct Call {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex callsMutex_;
    std::list<Call> calls_;
};
