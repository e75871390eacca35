#include "limits/HttpClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

void HttpRequest::setHeader(const QByteArray& name, const QByteArray& value) {
    for (auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
            h.second = value;
            return;
        }
    }
    headers.append({name, value});
}

std::optional<QByteArray> HttpRequest::header(const QByteArray& name) const {
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) return h.second;
    return std::nullopt;
}

NetworkHttpClient::NetworkHttpClient() : manager_(new QNetworkAccessManager) {}

NetworkHttpClient::~NetworkHttpClient() { delete manager_; }

namespace {

HttpResponse toResponse(QNetworkReply* reply) {
    HttpResponse r;
    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Qt reports 4xx/5xx as errors too (codes from 200 up); those are HTTP answers. Codes below
    // 200 are connection, TLS, timeout and proxy failures: even with a status line already
    // read, the body is incomplete.
    const bool transportFailure = error != QNetworkReply::NoError && int(error) < 200;
    if (transportFailure || (!status.isValid() && error != QNetworkReply::NoError)) {
        r.transportError = reply->errorString();
        return r;
    }
    if (status.isValid()) r.status = status.toInt();
    r.body = reply->readAll();
    return r;
}

}  // namespace

void NetworkHttpClient::send(const HttpRequest& request, Completion done) {
    // A line break in a value read from a file would smuggle extra headers into the request.
    for (const auto& h : request.headers) {
        if (h.first.isEmpty() || h.first.contains('\r') || h.first.contains('\n') || h.first.contains(':') ||
            h.second.contains('\r') || h.second.contains('\n') || h.second.contains('\0')) {
            HttpResponse r;
            r.transportError = QStringLiteral("refused to send an invalid value in header %1")
                                   .arg(QString::fromLatin1(h.first.left(64)));
            QMetaObject::invokeMethod(manager_, [r, done = std::move(done)] { done(r); }, Qt::QueuedConnection);
            return;
        }
    }
    QNetworkRequest req(request.url);
    for (const auto& h : request.headers) req.setRawHeader(h.first, h.second);
    req.setTransferTimeout(request.timeoutMs);
    req.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    req.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // A bearer token must not follow a redirect to some other host.
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);

    QNetworkReply* reply = manager_->sendCustomRequest(req, request.method);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, done = std::move(done)] {
        HttpResponse r = toResponse(reply);
        reply->deleteLater();
        done(std::move(r));
    });
}
