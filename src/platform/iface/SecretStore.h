#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

// Read-only access to the desktop's secret store (the keychain's generic passwords elsewhere).
// Nothing found, no store running, or any error all read as "no secret".
class SecretStore {
public:
    virtual ~SecretStore() = default;
    // The secret stored with the attribute service=<service>.
    virtual std::optional<QByteArray> read(const QString& service) const = 0;

    // The store of this platform when one is reachable, else a NullSecretStore. Decided at each
    // call, so installing the lookup tool later takes effect without a restart.
    static std::shared_ptr<SecretStore> platformDefault();
};

class NullSecretStore : public SecretStore {
public:
    std::optional<QByteArray> read(const QString&) const override { return std::nullopt; }
};
