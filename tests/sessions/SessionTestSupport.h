#pragma once

#include "app/NotificationNames.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "sessions/AgentProvider.h"
#include "sessions/AgentStateMonitor.h"
#include "sessions/Session.h"
#include "sessions/SessionManager.h"
#include "sessions/terminal/AgentTerminalView.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QMutex>
#include <QTemporaryDir>
#include <QUuid>
#include <memory>

inline constexpr int kSessionWaitMs = 30000;

// Writes an executable script.
inline QString writeScript(const QTemporaryDir& dir, const QString& name, const QByteArray& body) {
    const QString path = dir.filePath(name);
    writeTextFile(path, "#!/bin/bash\n" + body);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return path;
}

// Sets an environment variable for the test's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name) {
        had_ = qEnvironmentVariableIsSet(name);
        previous_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_) qputenv(name_, previous_);
        else qunsetenv(name_);
    }
private:
    const char* name_;
    bool had_ = false;
    QByteArray previous_;
};

// A state monitor the test drives: it records what the session gives it and reports on demand.
class FakeMonitor final : public AgentStateMonitor {
public:
    struct Chunk {
        qint64 atMs;
        QByteArray bytes;
    };
    void setOnStateChange(StateCallback callback) override { callback_ = std::move(callback); }
    bool attentionIsConfirmMenu() const override { return false; }
    void feed(QByteArrayView bytes) override {
        chunks.append({clock.elapsed(), bytes.toByteArray()});
        fed += bytes.toByteArray();
    }
    void start(const QString& directory) override { startedIn.append(directory); }
    void stop() override { ++stops; }
    void setScreenProvider(ScreenProvider provider) override { screen = std::move(provider); }

    void report(SessionState state) { callback_(state); }

    QElapsedTimer clock;
    QList<Chunk> chunks;
    QByteArray fed;
    QStringList startedIn;
    int stops = 0;
    ScreenProvider screen;

private:
    StateCallback callback_;
};

class FakeWatcher final : public UsageWatching {
public:
    FakeWatcher(QString directory, Update update) : directory(std::move(directory)), update(std::move(update)) {}
    void stop() override { ++stops; }
    QString directory;
    Update update;
    int stops = 0;
};

// A provider whose monitors and watchers are fakes the test can reach, launching a given command.
class FakeProvider final : public AgentProvider {
public:
    explicit FakeProvider(QString launchCommand, QString id = QStringLiteral("fake"))
        : launchCommand_(std::move(launchCommand)), id_(std::move(id)) {}

    QString id() const override { return id_; }
    QString displayName() const override { return QStringLiteral("Fake"); }
    QColor accentColor() const override { return Qt::magenta; }
    QStringList selectableModels() const override { return {QStringLiteral("m1"), QStringLiteral("m2")}; }
    QString resolveLaunchCommand(const QString& augmentedPath) const override {
        made->augmentedPath = augmentedPath;
        return launchCommand_;
    }
    QStringList resumeArguments(const QString& id) const override { return {QStringLiteral("--resume"), id}; }
    std::optional<QSet<QString>> liveSessionIDs() const override { return std::nullopt; }
    QStringList attachArguments() const override { return {}; }
    std::shared_ptr<AgentStateMonitor> makeStateMonitor() const override {
        auto m = std::make_shared<FakeMonitor>();
        m->clock.start();
        made->monitors.append(m);
        return m;
    }
    std::shared_ptr<UsageWatching> makeUsageWatcher(const QString& directory,
                                                    UsageWatching::Update onUpdate) const override {
        auto w = std::make_shared<FakeWatcher>(directory, std::move(onUpdate));
        made->watchers.append(w);
        return w;
    }
    void refreshLimits() const override { ++made->refreshes; }

    // What this provider handed out; shared by its copies.
    struct Made {
        QList<std::shared_ptr<FakeMonitor>> monitors;
        QList<std::shared_ptr<FakeWatcher>> watchers;
        int refreshes = 0;
        QString augmentedPath;
    };
    std::shared_ptr<Made> made = std::make_shared<Made>();
    std::shared_ptr<FakeMonitor> monitor() const { return made->monitors.last(); }
    std::shared_ptr<FakeWatcher> watcher() const { return made->watchers.last(); }

private:
    QString launchCommand_;
    QString id_;
};

// The notifications one manager posts, in order.
class Posted {
public:
    struct Entry {
        QString name;
        QUuid sessionID;  // null when none was given
    };
    explicit Posted(SessionManager* manager) {
        NotificationCenter::shared().observe(
            "", &context_,
            [this](const Notification& n) {
                entries.append({n.name, n.userInfo.value(QString::fromLatin1(kSessionIDKey)).value<QUuid>()});
            },
            manager);
    }
    int count(const char* name, const QUuid& id = {}) const {
        int c = 0;
        for (const Entry& e : entries)
            if (e.name == QLatin1String(name) && (id.isNull() || e.sessionID == id)) ++c;
        return c;
    }
    QStringList names() const {
        QStringList n;
        for (const Entry& e : entries) n << e.name;
        return n;
    }
    void clear() { entries.clear(); }
    QList<Entry> entries;

private:
    QObject context_;
};

// Counts autosave requests while alive.
class AutosaveCount {
public:
    AutosaveCount() {
        previous_ = SessionManager::setAutosaveHandler([this](SessionManager& m) { requests.append(&m); });
    }
    ~AutosaveCount() { SessionManager::setAutosaveHandler(previous_); }
    int count() const { return int(requests.size()); }
    QList<SessionManager*> requests;
private:
    SessionManager::AutosaveHandler previous_;
};

// The ground every session test stands on: its own preferences and home, bash as the shell.
class SessionTestBase {
protected:
    ScopedMemoryPreferences prefs_;
    TempHome home_;
    ScopedEnv shell_{"SHELL", "/bin/bash"};
    QTemporaryDir scripts_;
};

inline QString screenOf(const SessionRef& s) {
    return s && s->terminalView ? s->terminalView->currentScreenText() : QString();
}

inline bool screenContains(const SessionRef& s, const QString& text, int timeoutMs = kSessionWaitMs) {
    return waitUntil([&] { return screenOf(s).contains(text); }, timeoutMs);
}
