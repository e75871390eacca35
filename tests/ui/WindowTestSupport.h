#pragma once

#include "app/NotificationNames.h"
#include "app/PreferenceKeys.h"
#include "core/NotificationCenter.h"
#include "core/Preferences.h"
#include "sessions/AgentProvider.h"
#include "sessions/AgentStateMonitor.h"
#include "sessions/SessionManager.h"
#include "sessions/terminal/AgentTerminalView.h"
#include "ui/AlertDialog.h"
#include "ui/ProjectManager.h"
#include "ui/TerminalPane.h"
#include "ui/WindowController.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>

inline constexpr int kWindowWaitMs = 30000;

// Sets an environment variable for the test's lifetime.
class ScopedEnvVar {
public:
    ScopedEnvVar(const char* name, const QByteArray& value) : name_(name) {
        had_ = qEnvironmentVariableIsSet(name);
        previous_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnvVar() {
        if (had_) qputenv(name_, previous_);
        else qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    QByteArray previous_;
};

inline QString writeExecutable(const QString& path, const QByteArray& body) {
    writeTextFile(path, body);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return path;
}

// An agent whose state only the test changes: its monitor never reports, it has no usage
// watcher, and its program waits for a line.
class QuietProvider final : public AgentProvider {
public:
    QuietProvider(QString command, QColor color = QColor(0x7f, 0x5a, 0xf0)) : command_(std::move(command)), color_(color) {}
    QString id() const override { return QStringLiteral("quiet"); }
    QString displayName() const override { return QStringLiteral("Quiet"); }
    QColor accentColor() const override { return color_; }
    QStringList selectableModels() const override { return {}; }
    QString resolveLaunchCommand(const QString&) const override { return command_; }
    QStringList resumeArguments(const QString&) const override { return {}; }
    std::optional<QSet<QString>> liveSessionIDs() const override { return std::nullopt; }
    QStringList attachArguments() const override { return {}; }
    std::shared_ptr<AgentStateMonitor> makeStateMonitor() const override { return std::make_shared<NullStateMonitor>(); }
    std::shared_ptr<UsageWatching> makeUsageWatcher(const QString&, UsageWatching::Update) const override {
        return nullptr;
    }
    void refreshLimits() const override {}

private:
    QString command_;
    QColor color_;
};

// Each window test runs in its own home with its own preferences, bash as the login shell, the
// stand-in agents as "claude" and "codex", and a tmux that never starts a server.
class WindowTestBase {
protected:
    WindowTestBase() {
        ProjectManager::resetShared();
        QDir().mkpath(home.file("bin"));
        writeExecutable(home.file("bin/tmux"), "#!/bin/sh\nexit 1\n");
        path_ = std::make_unique<ScopedEnvVar>("PATH", home.file("bin").toUtf8() + ":" + qgetenv("PATH"));
        prefs.prefs().setValue(PrefKey::binaryPath(QStringLiteral("claude")), QStringLiteral(VARNIX_FIXTURES "/bin/claude"));
        prefs.prefs().setValue(PrefKey::binaryPath(QStringLiteral("codex")), QStringLiteral(VARNIX_FIXTURES "/bin/codex"));
        quietAgent = writeExecutable(home.file("bin/quiet-agent"), "#!/bin/bash\nprintf 'QUIET READY\\n'\nread -r _\n");
        quiet = std::make_shared<QuietProvider>(quietAgent);
    }
    ~WindowTestBase() {
        for (QWidget* w : QApplication::topLevelWidgets()) w->close();
        for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ProjectManager::resetShared();
    }

    QString makeDir(const QString& name) {
        const QString dir = home.file(name);
        QDir().mkpath(dir);
        return dir;
    }

    // A git repository with one commit on "main" under the home directory.
    QString makeRepo(const QString& name, bool withCommit = true) {
        const QString dir = makeDir(name);
        auto git = [&](const QStringList& args) {
            QProcess p;
            p.setWorkingDirectory(dir);
            p.start(QStringLiteral("/usr/bin/git"), args);
            p.waitForFinished(60000);
            return p.exitCode();
        };
        git({"init", "-q", "-b", "main"});
        if (withCommit) {
            writeTextFile(dir + "/README", "hello\n");
            git({"add", "README"});
            git({"-c", "user.name=Test", "-c", "user.email=test@example.com", "commit", "-q", "-m", "first"});
        }
        return dir;
    }

    SessionRef addQuietSession(SessionManager* manager, const QString& name,
                               std::optional<QString> worktree = std::nullopt, bool activate = false) {
        SessionManager::CreateOptions o;
        o.name = name;
        o.agent = quiet;
        o.worktreePath = worktree;
        o.activate = activate;
        return manager->createSession(o);
    }

    static void setState(SessionManager* manager, const SessionRef& s, SessionState state) {
        s->state = state;
        NotificationCenter::shared().post(kSessionStateDidChange, manager, {{QString::fromLatin1(kSessionIDKey), s->id}});
    }

    // The alert shown on `window` whose object name is `name`, once it is there.
    static AlertDialog* waitForAlert(QWidget* window, const QString& name, int timeoutMs = kWindowWaitMs) {
        AlertDialog* found = nullptr;
        waitUntil(
            [&] {
                found = AlertDialog::shownOn(window);
                return found && found->objectName() == name;
            },
            timeoutMs);
        return found && found->objectName() == name ? found : nullptr;
    }

    TempHome home;
    ScopedMemoryPreferences prefs;
    ScopedEnvVar shell{"SHELL", "/bin/bash"};
    std::unique_ptr<ScopedEnvVar> path_;
    QString quietAgent;
    std::shared_ptr<QuietProvider> quiet;
};
