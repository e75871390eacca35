#include "FakeHttpServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

FakeHttpServer::FakeHttpServer() : server_(new QTcpServer(this)) {
    server_->listen(QHostAddress::LocalHost, 0);
    connect(server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                buffers_.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

FakeHttpServer::~FakeHttpServer() = default;

QString FakeHttpServer::baseURL() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(server_->serverPort());
}

void FakeHttpServer::enqueue(Reply reply) { script_.append(std::move(reply)); }

void FakeHttpServer::release() {
    const auto held = std::exchange(held_, {});
    for (const auto& [socket, reply] : held)
        if (socket) answer(socket, reply);
}

void FakeHttpServer::onReadable(QTcpSocket* socket) {
    QByteArray& buffer = buffers_[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) return;  // headers not complete yet; the usage requests carry no body

    Request request;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    buffer.clear();
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0) request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    requests_.append(request);

    Reply reply = script_.isEmpty() ? Reply{599, "no scripted reply"} : script_.takeFirst();
    if (reply.before) reply.before();
    if (reply.hold) held_.append({QPointer<QTcpSocket>(socket), reply});
    else answer(socket, reply);
}

void FakeHttpServer::answer(QTcpSocket* socket, const Reply& reply) {
    QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
    response += "Content-Type: application/json\r\n";
    response += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    response += reply.body;
    socket->write(response);
    socket->disconnectFromHost();  // after the bytes are written
}
