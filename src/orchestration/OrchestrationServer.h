#pragma once

#include <QJsonObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

// The application's control socket: ~/.config/varnix/orchestrator-<pid>.sock, 0600. Each
// connection carries newline-delimited JSON requests {"id", "token", "session", "tool", "args"}
// and gets one JSON line back per request. Only requests carrying the token reach the handler.
class OrchestrationServer {
public:
    // Carries out one authenticated tool call and returns the whole response object:
    // {"ok": true, "result": {...}} or {"ok": false, "error": text}. Called on a connection
    // thread; it may block for as long as the tool waits (for the user, say).
    using Handler =
        std::function<QJsonObject(const QString& orchestrator, const QString& tool, const QJsonObject& args)>;

    // A request line longer than this closes its connection instead of growing without bound.
    static constexpr qsizetype kMaxRequestLine = 8 * 1024 * 1024;
    // Paths of this many UTF-8 bytes or more are refused (the portable sockaddr_un limit).
    static constexpr int kMaxSocketPathBytes = 104;

    // The application's instance; its token is loaded or created on first use. Never destroyed,
    // so connection threads may outlive everything else at exit.
    static OrchestrationServer& shared();

    explicit OrchestrationServer(QString token, Handler handler = {});
    ~OrchestrationServer();  // stops, wakes and waits for every connection
    OrchestrationServer(const OrchestrationServer&) = delete;
    OrchestrationServer& operator=(const OrchestrationServer&) = delete;

    // Binds the default path (or `path`) and starts the accept loop. Does nothing while already
    // listening. On failure logs the reason and stays not listening.
    void start();
    void start(const QString& path);
    // Closes the listening socket, ends the accept loop and removes the socket file. Connections
    // already open are served on until their clients hang up.
    void stop();

    // The bound path; empty while not listening.
    QString socketPath() const;
    const QString& token() const { return token_; }

    // Until the orchestration service is installed, every tool answers `unavailableHandler`.
    void setHandler(Handler handler);
    static QJsonObject unavailableResponse(const QString& tool);

    // ~/.config/varnix/orchestrator-<pid>.sock (the directory is created when missing).
    static QString defaultSocketPath();

    // The response to one request line (without its line feed).
    QJsonObject response(const QByteArray& line) const;
    // Constant-time comparison with the server's token; nothing never matches.
    bool tokenMatches(const std::optional<QString>& candidate) const;
    // Serves one connected socket until its peer hangs up, then closes it. Blocks.
    void serve(int fd);

private:
    void acceptLoop(int listenFd);
    void handleLine(const QByteArray& line, int fd);
    void beginConnection(int fd);
    void endConnection(int fd);

    const QString token_;
    mutable std::mutex mutex_;
    Handler handler_;
    QString socketPath_;
    int listenFd_ = -1;
    std::thread acceptThread_;  // the "varnix.orchestration.accept" loop

    // Open connections, each served on a thread of its own ("varnix.orchestration.client").
    std::mutex connMutex_;
    std::condition_variable connDone_;
    std::set<int> connections_;
};
