#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkAccessManager;

struct HttpRequest {
    QByteArray method = "GET";
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;  // in the order they are sent
    int timeoutMs = 60000;

    // Replaces any header of the same name (names compare case-insensitively).
    void setHeader(const QByteArray& name, const QByteArray& value);
    std::optional<QByteArray> header(const QByteArray& name) const;
};

struct HttpResponse {
    // Set when the request never produced a complete HTTP response; the text describes why.
    std::optional<QString> transportError;
    std::optional<int> status;  // absent for a response that is not HTTP
    QByteArray body;
};

// Sends one request and reports its outcome once. `send` is called on the owner's thread;
// the completion may run on any thread.
class HttpClient {
public:
    using Completion = std::function<void(HttpResponse)>;
    virtual ~HttpClient() = default;
    virtual void send(const HttpRequest& request, Completion done) = 0;
};

// Qt Network with the system's TLS. Lives on the thread that created it: send from there, and
// destroy it there. Completions run on that thread too.
class NetworkHttpClient : public HttpClient {
public:
    NetworkHttpClient();
    ~NetworkHttpClient() override;
    void send(const HttpRequest& request, Completion done) override;

private:
    QNetworkAccessManager* manager_;
};
