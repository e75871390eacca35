#include "core/Preferences.h"
#include "sessions/AgentBinaryResolver.h"
#include "sessions/AgentProvider.h"
#include "sessions/AgentStateMonitor.h"
#include "sessions/ClaudeLiveSessionProbe.h"
#include "sessions/NewTabMenuEntry.h"
#include "ui/Theme.h"

#include "support/TestSupport.h"
#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kFakeClaude = QStringLiteral(VARNIX_FIXTURES "/bin/claude");
const QString kFakeCodex = QStringLiteral(VARNIX_FIXTURES "/bin/codex");

// The shell lookup answers nothing, so resolution is decided by override, PATH and locations.
class SilentShell {
public:
    SilentShell() {
        AgentBinaryResolver::clearInteractiveCache();
        AgentBinaryResolver::setShellRunner([](const QString&, bool, double) { return std::optional<QString>(); });
    }
    ~SilentShell() {
        AgentBinaryResolver::setShellRunner(nullptr);
        AgentBinaryResolver::clearInteractiveCache();
    }
};

int lineCount(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) : 0;
}

}  // namespace

TEST(AgentRegistry, ListsClaudeThenCodexAndFallsBackToClaude) {
    QStringList ids;
    for (const AgentProviderRef& p : AgentRegistry::all()) ids << p->id();
    EXPECT_EQ(ids, (QStringList{"claude", "codex"}));
    EXPECT_EQ(AgentRegistry::defaultProvider()->id(), "claude");
    EXPECT_EQ(AgentRegistry::provider("codex")->id(), "codex");
    EXPECT_EQ(AgentRegistry::provider("claude")->id(), "claude");
    EXPECT_EQ(AgentRegistry::provider("gpt")->id(), "claude");
    EXPECT_EQ(AgentRegistry::provider("")->id(), "claude");
    EXPECT_EQ(AgentRegistry::provider("shell")->id(), "claude");
}

TEST(AgentProvider, DescribesEachProgram) {
    ClaudeProvider claude;
    CodexProvider codex;
    ShellProvider shell;
    EXPECT_EQ(claude.displayName(), "Claude Code");
    EXPECT_EQ(codex.displayName(), "Codex");
    EXPECT_EQ(shell.displayName(), "Terminal");
    EXPECT_EQ(shell.id(), "shell");
    EXPECT_EQ(claude.accentColor(), Theme::accent());
    EXPECT_EQ(codex.accentColor(), Theme::green());
    EXPECT_EQ(shell.accentColor(), Theme::cyan());
    EXPECT_EQ(claude.selectableModels(), (QStringList{"opus", "sonnet", "haiku"}));
    EXPECT_EQ(codex.selectableModels(), (QStringList{"gpt-5-codex", "gpt-5"}));
    EXPECT_TRUE(shell.selectableModels().isEmpty());

    EXPECT_EQ(claude.resumeArguments("abc"), (QStringList{"--resume", "abc"}));
    EXPECT_EQ(codex.resumeArguments("abc"), (QStringList{"resume", "abc"}));
    EXPECT_TRUE(shell.resumeArguments("abc").isEmpty());
    EXPECT_EQ(claude.attachArguments(), (QStringList{"agents"}));
    EXPECT_TRUE(codex.attachArguments().isEmpty());
    EXPECT_TRUE(shell.attachArguments().isEmpty());
    EXPECT_FALSE(codex.liveSessionIDs());
    EXPECT_FALSE(shell.liveSessionIDs());
    EXPECT_EQ(shell.resolveLaunchCommand("/usr/bin:/bin"), "");

    // Monitors are new objects each time and start idle; shells have no usage watcher.
    for (const AgentProvider* p : {static_cast<const AgentProvider*>(&claude), static_cast<const AgentProvider*>(&codex),
                                   static_cast<const AgentProvider*>(&shell)}) {
        auto a = p->makeStateMonitor();
        auto b = p->makeStateMonitor();
        ASSERT_NE(a, nullptr);
        EXPECT_NE(a, b);
        EXPECT_FALSE(a->attentionIsConfirmMenu());
    }
    EXPECT_EQ(shell.makeUsageWatcher("/tmp", [](const UsageSnapshot&) {}), nullptr);

    // The null monitor never reports, whatever it is fed.
    NullStateMonitor null;
    int reports = 0;
    null.setOnStateChange([&](SessionState) { ++reports; });
    null.start("/tmp");
    null.feed("\x1b[?1049h Do you want to proceed? 1. Yes");
    null.stop();
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(null.state(), SessionState::idle);
}

TEST(AgentProvider, LaunchCommandsResolveTheirOwnPrograms) {
    TempHome home;
    ScopedMemoryPreferences prefs;
    SilentShell shell;
    QTemporaryDir tmp;
    ClaudeProvider claude;
    CodexProvider codex;

    // Codex from the child's PATH.
    const QString fixtures = QStringLiteral(VARNIX_FIXTURES "/bin");
    EXPECT_EQ(codex.resolveLaunchCommand(tmp.path() + ":" + fixtures), kFakeCodex);
    // Claude's own local install place.
    const QString local = home.path() + "/.claude/local/claude";
    ASSERT_TRUE(QDir().mkpath(home.path() + "/.claude/local"));
    ASSERT_TRUE(QFile::copy(kFakeClaude, local));
    EXPECT_EQ(claude.resolveLaunchCommand(tmp.path()), local);
    // The user's override wins over both.
    AgentBinaryOverride::set(kFakeClaude, "claude");
    EXPECT_EQ(claude.resolveLaunchCommand(fixtures), kFakeClaude);
    // Nothing found: the bare name.
    EXPECT_EQ(codex.resolveLaunchCommand(tmp.path()), "codex");
}

TEST(NewTabMenuEntry, MenuFollowsTheRegistry) {
    using E = NewTabMenuEntry;
    using K = NewTabMenuEntry::Kind;
    using M = NewTabMenuEntry::Modifier;
    const QList<E> expected{
        {K::terminal, {}, "New Terminal", {}, {}},
        {K::orchestrator, {}, "New Orchestrator Session", "o", M::Primary | M::Shift},
        {K::separator, {}, {}, {}, {}},
        {K::agentSession, "claude", "New Claude Code Session", "t", M::Primary},
        {K::agentSession, "codex", "New Codex Session", "t", M::Primary | M::Shift},
    };
    EXPECT_EQ(E::entries(), expected);

    // A third provider gets no key; entries differ when any field differs.
    const QList<AgentProviderRef> three{std::make_shared<CodexProvider>(), std::make_shared<ClaudeProvider>(),
                                        std::make_shared<ShellProvider>()};
    const QList<E> list = E::entries(three);
    ASSERT_EQ(list.size(), 6);
    EXPECT_EQ(list[3].title, "New Codex Session");
    EXPECT_EQ(list[4].modifiers, E::Modifiers(M::Primary | M::Shift));
    EXPECT_EQ(list[5], (E{K::agentSession, "shell", "New Terminal Session", {}, {}}));
    E changed = expected[3];
    changed.agentID = "codex";
    EXPECT_NE(changed, expected[3]);
    changed = expected[3];
    changed.modifiers = M::Primary | M::Shift;
    EXPECT_NE(changed, expected[3]);
}

TEST(ClaudeLiveSessionProbe, ParsesBothListingShapes) {
    using P = ClaudeLiveSessionProbe;
    EXPECT_EQ(P::parseSessionIDs(R"([{"sessionId":"a"},{"sessionId":""},{"name":"x"},{"sessionId":"b"}])"),
              (QSet<QString>{"a", "b"}));
    EXPECT_EQ(P::parseSessionIDs(R"({"agents":[{"sessionId":"c","status":"running"}]})"), (QSet<QString>{"c"}));
    EXPECT_EQ(P::parseSessionIDs("[]"), QSet<QString>());
    EXPECT_FALSE(P::parseSessionIDs(R"({"agents":{"sessionId":"c"}})"));
    EXPECT_FALSE(P::parseSessionIDs(R"({"other":[]})"));
    EXPECT_FALSE(P::parseSessionIDs("No agents running"));
    EXPECT_FALSE(P::parseSessionIDs(""));
}

TEST(ClaudeLiveSessionProbe, AsksTheRealProgramAndCachesForFiveSeconds) {
    TempHome home;
    ScopedMemoryPreferences prefs;
    SilentShell shell;
    QTemporaryDir tmp;
    qint64 now = 1000000;
    ClaudeLiveSessionProbe::reset();
    ClaudeLiveSessionProbe::setClock([&] { return now; });
    const QString log = tmp.path() + "/calls.log";
    qputenv("FAKE_AGENT_LOG", QFile::encodeName(log));
    qputenv("FAKE_CLAUDE_AGENTS_JSON", R"({"agents":[{"sessionId":"live-1"},{"sessionId":"live-2"}]})");
    AgentBinaryOverride::set(kFakeClaude, "claude");

    ClaudeProvider claude;
    EXPECT_EQ(claude.liveSessionIDs(), (QSet<QString>{"live-1", "live-2"}));
    now += 4000;
    EXPECT_EQ(claude.liveSessionIDs(), (QSet<QString>{"live-1", "live-2"}));
    EXPECT_EQ(lineCount(log), 1);
    {
        QFile f(log);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), "claude agents --json\n");
    }

    // After five seconds it asks again; a failing listing means "cannot tell", cached as well.
    now += 1500;
    qputenv("FAKE_CLAUDE_AGENTS_STATUS", "1");
    EXPECT_FALSE(claude.liveSessionIDs());
    EXPECT_FALSE(claude.liveSessionIDs());
    EXPECT_EQ(lineCount(log), 2);
    qunsetenv("FAKE_CLAUDE_AGENTS_STATUS");

    // A program that cannot be found is never run.
    now += 6000;
    AgentBinaryOverride::set(std::nullopt, "claude");
    qputenv("PATH", QFile::encodeName(tmp.path()));
    EXPECT_FALSE(claude.liveSessionIDs());
    EXPECT_EQ(lineCount(log), 2);

    ClaudeLiveSessionProbe::setClock(nullptr);
    ClaudeLiveSessionProbe::reset();
    qunsetenv("FAKE_AGENT_LOG");
    qunsetenv("FAKE_CLAUDE_AGENTS_JSON");
}
