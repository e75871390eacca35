#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QTcpServer;
class QTcpSocket;

// A scripted HTTP/1.1 stand-in on 127.0.0.1, driven by the main thread's event loop. It records
// every request and answers with the next scripted reply (or 599 when the script is empty).
class FakeHttpServer : public QObject {
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers;  // names lower-cased
        bool has(const QByteArray& name) const { return headers.contains(name.toLower()); }
        QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    };
    struct Reply {
        int status = 200;
        QByteArray body;
        bool hold = false;            // keep the connection waiting until release()
        std::function<void()> before;  // runs when the request arrives, before answering
    };

    FakeHttpServer();
    ~FakeHttpServer() override;

    QString baseURL() const;
    void enqueue(Reply reply);
    void enqueue(int status, QByteArray body) { enqueue(Reply{status, std::move(body)}); }
    // Answers every held request.
    void release();

    QList<Request> requests() const { return requests_; }
    int requestCount() const { return int(requests_.size()); }
    int heldCount() const { return int(held_.size()); }

private:
    void onReadable(QTcpSocket* socket);
    static void answer(QTcpSocket* socket, const Reply& reply);

    QTcpServer* server_;
    QMap<QTcpSocket*, QByteArray> buffers_;
    QList<Reply> script_;
    QList<Request> requests_;
    QList<QPair<QPointer<QTcpSocket>, Reply>> held_;
};
