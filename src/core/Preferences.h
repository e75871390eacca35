#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

// The user's preference store. Values keep their type: bool, double (every number), QString,
// or QByteArray (data). A text "no" is a text, never a boolean.
class Preferences {
public:
    virtual ~Preferences() = default;

    virtual std::optional<QVariant> value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void remove(const QString& key) = 0;

    bool contains(const QString& key) const { return value(key).has_value(); }
    // Present and a boolean.
    std::optional<bool> boolValue(const QString& key) const;
    // Present and a text.
    std::optional<QString> stringValue(const QString& key) const;
    // Present and data.
    std::optional<QByteArray> dataValue(const QString& key) const;
    // A number, a boolean (1/0) or a numeric text; otherwise the fallback (as the platform's
    // "double for key" reads).
    double doubleValue(const QString& key, double fallback = 0) const;
    qint64 integerValue(const QString& key, qint64 fallback = 0) const;

    // The process's store. The application installs a JSON file store at start-up; until then
    // (and in tests that install none) an in-memory store serves.
    static Preferences& shared();
    // Takes ownership; returns the previous store (tests restore it).
    static Preferences* setShared(Preferences* prefs);
};

// Values held in memory; for tests.
class MemoryPreferences : public Preferences {
public:
    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
private:
    QVariantMap values_;
};

// ~/.config/varnix/preferences.json. Every write goes to disk at once (atomically); reads are
// served from memory and reloaded when the file's modification time or size changes, so
// another process's edit is seen at the next read.
class JsonFilePreferences : public Preferences {
public:
    explicit JsonFilePreferences(QString path);
    ~JsonFilePreferences() override;

    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;

    const QString& path() const { return path_; }

private:
    struct State;
    void reloadIfChanged() const;
    void save() const;
    QString path_;
    State* state_;
};

// Installs a real store on the default path and returns it.
void installDefaultPreferences();
