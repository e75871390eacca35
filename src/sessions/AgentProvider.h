#pragma once

#include "sessions/UsageWatching.h"

#include <QColor>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class AgentStateMonitor;

// One kind of program a session runs: how to find and launch it, resume its conversations,
// switch its model, watch its state and usage, and refresh its plan limits. Providers are
// immutable values, shared by the sessions that use them.
class AgentProvider {
public:
    virtual ~AgentProvider() = default;

    virtual QString id() const = 0;
    virtual QString displayName() const = 0;
    virtual QColor accentColor() const = 0;
    virtual QStringList selectableModels() const = 0;
    // The command that starts the program for a child whose PATH is `augmentedPath`; empty
    // when the tab is a plain shell.
    virtual QString resolveLaunchCommand(const QString& augmentedPath) const = 0;
    virtual QStringList resumeArguments(const QString& sessionID) const = 0;
    // Conversations running elsewhere; none when the provider cannot tell.
    virtual std::optional<QSet<QString>> liveSessionIDs() const = 0;
    // Arguments that open the agent's own picker of running conversations.
    virtual QStringList attachArguments() const = 0;
    // A new monitor on every call; never null.
    virtual std::shared_ptr<AgentStateMonitor> makeStateMonitor() const = 0;
    // A new watcher on every call, or null when the provider has none.
    virtual std::shared_ptr<UsageWatching> makeUsageWatcher(const QString& workingDirectory,
                                                            UsageWatching::Update onUpdate) const = 0;
    virtual void refreshLimits() const = 0;
};

using AgentProviderRef = std::shared_ptr<const AgentProvider>;

class ClaudeProvider final : public AgentProvider {
public:
    QString id() const override { return id_; }
    QString displayName() const override { return displayName_; }
    QColor accentColor() const override;
    QStringList selectableModels() const override { return selectableModels_; }
    QString resolveLaunchCommand(const QString& augmentedPath) const override;
    QStringList resumeArguments(const QString& sessionID) const override;
    std::optional<QSet<QString>> liveSessionIDs() const override;
    QStringList attachArguments() const override;
    std::shared_ptr<AgentStateMonitor> makeStateMonitor() const override;
    std::shared_ptr<UsageWatching> makeUsageWatcher(const QString& workingDirectory,
                                                    UsageWatching::Update onUpdate) const override;
    void refreshLimits() const override;

    static constexpr double kLiveProbeTimeout = 2.0;

private:
    QString id_ = QStringLiteral("claude");
    QString displayName_ = QStringLiteral("Claude Code");
    QStringList selectableModels_{QStringLiteral("opus"), QStringLiteral("sonnet"), QStringLiteral("haiku")};
};

class CodexProvider final : public AgentProvider {
public:
    QString id() const override { return id_; }
    QString displayName() const override { return displayName_; }
    QColor accentColor() const override;
    QStringList selectableModels() const override { return selectableModels_; }
    QString resolveLaunchCommand(const QString& augmentedPath) const override;
    QStringList resumeArguments(const QString& sessionID) const override;
    std::optional<QSet<QString>> liveSessionIDs() const override { return std::nullopt; }
    QStringList attachArguments() const override { return {}; }
    std::shared_ptr<AgentStateMonitor> makeStateMonitor() const override;
    std::shared_ptr<UsageWatching> makeUsageWatcher(const QString& workingDirectory,
                                                    UsageWatching::Update onUpdate) const override;
    void refreshLimits() const override;

private:
    QString id_ = QStringLiteral("codex");
    QString displayName_ = QStringLiteral("Codex");
    QStringList selectableModels_{QStringLiteral("gpt-5-codex"), QStringLiteral("gpt-5")};
};

// Plain terminal tabs: the user's shell, no agent.
class ShellProvider final : public AgentProvider {
public:
    QString id() const override { return id_; }
    QString displayName() const override { return displayName_; }
    QColor accentColor() const override;
    QStringList selectableModels() const override { return {}; }
    QString resolveLaunchCommand(const QString&) const override { return {}; }
    QStringList resumeArguments(const QString&) const override { return {}; }
    std::optional<QSet<QString>> liveSessionIDs() const override { return std::nullopt; }
    QStringList attachArguments() const override { return {}; }
    std::shared_ptr<AgentStateMonitor> makeStateMonitor() const override;
    std::shared_ptr<UsageWatching> makeUsageWatcher(const QString&, UsageWatching::Update) const override {
        return nullptr;
    }
    void refreshLimits() const override {}

private:
    QString id_ = QStringLiteral("shell");
    QString displayName_ = QStringLiteral("Terminal");
};

// The agent providers in menu order. The shell provider is not listed: plain terminal tabs use
// it directly and are never saved, so it is never looked up by id.
class AgentRegistry {
public:
    static const QList<AgentProviderRef>& all();
    static AgentProviderRef defaultProvider();
    // The provider with that id; the default one for any unknown id.
    static AgentProviderRef provider(const QString& id);
};
