#pragma once

#include "platform/iface/SecretStore.h"

// The Secret Service through libsecret's `secret-tool lookup service <name>`. Never writes.
class SecretToolStore : public SecretStore {
public:
    // `program` is a name looked up on PATH or an absolute path. The lookup is given up after
    // `timeoutMs` (a locked keyring may wait for the user forever).
    explicit SecretToolStore(QString program = QStringLiteral("secret-tool"), int timeoutMs = 5000);

    std::optional<QByteArray> read(const QString& service) const override;

    // The program's absolute path, or empty when it is not installed.
    QString resolvedProgram() const;

private:
    QString program_;
    int timeoutMs_;
};
