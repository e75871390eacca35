#include "app/SingleInstance.h"

#include "core/Paths.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

SingleInstance::SingleInstance(QString socketPath, QObject* parent) : QObject(parent), path_(std::move(socketPath)) {}

QString SingleInstance::defaultSocketPath() {
    return Paths::runtimeDir() + QStringLiteral("/varnix-%1").arg(getuid());
}

bool SingleInstance::forwardToRunningInstance(const std::optional<QString>& project) {
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (!socket.waitForConnected(500)) return false;
    // A path may hold any byte but NUL, a line break included: it travels encoded.
    socket.write(project ? "open " + project->toUtf8().toBase64() + "\n" : QByteArray("reopen\n"));
    socket.waitForBytesWritten(500);
    // The answer tells us the other side is alive and handled it.
    return socket.waitForReadyRead(2000) && socket.readAll().startsWith("ok");
}

bool SingleInstance::listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path_)) {
        // A stale socket from a crashed run: nobody answered, so it is safe to remove.
        QLocalServer::removeServer(path_);
        if (!server_->listen(path_)) return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, client, [this, client] {
                if (!client->canReadLine()) return;
                const QByteArray line = client->readLine().trimmed();
                if (line == "reopen") {
                    client->write("ok\n");
                    Q_EMIT reopenRequested();
                } else if (line.startsWith("open ")) {
                    const QString project = QString::fromUtf8(QByteArray::fromBase64(line.mid(5)));
                    if (!project.isEmpty()) {
                        client->write("ok\n");
                        Q_EMIT openRequested(project);
                    }
                }
                client->disconnectFromServer();
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return true;
}
