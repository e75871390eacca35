// Which launch arguments a saved agent session gets when it starts again.
#include "observe/ClaudeTranscripts.h"
#include "sessions/AgentProvider.h"
#include "sessions/AgentSessionResume.h"

#include "support/TestSupport.h"
#include "QtPrinters.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

// Found by argument-dependent lookup, so it lives where the plan does.
inline void PrintTo(const AgentSessionResume::LaunchPlan& plan, std::ostream* os) {
    PrintTo(plan.args, os);
    *os << " banner ";
    if (plan.banner) PrintTo(*plan.banner, os);
    else *os << "none";
}

namespace {

using Plan = AgentSessionResume::LaunchPlan;

// A provider that only says how to resume: no picker, no program.
class OtherProvider final : public AgentProvider {
public:
    QString id() const override { return "other"; }
    QString displayName() const override { return "Other"; }
    QColor accentColor() const override { return {}; }
    QStringList selectableModels() const override { return {}; }
    QString resolveLaunchCommand(const QString&) const override { return {}; }
    QStringList resumeArguments(const QString& id) const override { return {"--continue", id}; }
    std::optional<QSet<QString>> liveSessionIDs() const override { return QSet<QString>{}; }
    QStringList attachArguments() const override { return {}; }
    std::shared_ptr<AgentStateMonitor> makeStateMonitor() const override { return nullptr; }
    std::shared_ptr<UsageWatching> makeUsageWatcher(const QString&, UsageWatching::Update) const override {
        return nullptr;
    }
    void refreshLimits() const override {}
};

// The stores of one test, and a live-session probe that answers what it is told.
struct ResumeFixture {
    QTemporaryDir tmp;
    AgentSessionResume resume;
    std::optional<QSet<QString>> live = QSet<QString>{};
    int probes = 0;

    ResumeFixture() {
        resume.claudeProjectsRoot = tmp.filePath("projects");
        resume.codexSessionsRoot = tmp.filePath("sessions");
        resume.liveSessionProbe = [this](const AgentProvider&) {
            ++probes;
            return live;
        };
    }
    QString claudeDir(const QString& workingDirectory) const {
        return ClaudeTranscriptLocator::transcriptDirectory(workingDirectory, resume.claudeProjectsRoot);
    }
};

const QByteArray kConversation = "{\"type\":\"summary\"}\n{\"type\":\"user\",\"sessionId\":\"x\"}\n";
const QByteArray kSummaryOnly = "{\"type\":\"summary\",\"summary\":\"Fix the build\",\"leafUuid\":\"u1\"}\n";

}  // namespace

TEST(AgentSessionResume, ClaudeResumesOnlyConversationsThatExistAndAttachesToLiveOnes) {
    ResumeFixture f;
    const QString wd = "/w/app";
    ASSERT_TRUE(writeTextFile(f.claudeDir(wd) + "/conv.jsonl", kConversation));
    ASSERT_TRUE(writeTextFile(f.claudeDir(wd) + "/sum.jsonl", kSummaryOnly));
    ASSERT_TRUE(writeTextFile(f.tmp.filePath("elsewhere.jsonl"), kConversation));
    ASSERT_TRUE(writeTextFile(f.tmp.filePath("summary.jsonl"), kSummaryOnly));
    const QString banner = "Session conv is still running in the background — pick it below to attach.";

    struct Case {
        const char* what;
        std::optional<QString> id;
        std::optional<QString> transcript;
        std::optional<QSet<QString>> live;
        Plan plan;
    };
    const Case cases[] = {
        {"no id", std::nullopt, std::nullopt, QSet<QString>{}, {}},
        {"empty id", QString(), f.tmp.filePath("elsewhere.jsonl"), QSet<QString>{}, {}},
        {"found by id", "conv", std::nullopt, QSet<QString>{}, {{"--resume", "conv"}, {}}},
        {"saved path", "far", f.tmp.filePath("elsewhere.jsonl"), QSet<QString>{}, {{"--resume", "far"}, {}}},
        {"summary only, found", "sum", std::nullopt, QSet<QString>{}, {}},
        {"summary only, saved", "sum", f.tmp.filePath("summary.jsonl"), QSet<QString>{}, {}},
        {"saved path without conversation, found by id", "conv", f.tmp.filePath("summary.jsonl"), QSet<QString>{},
         {{"--resume", "conv"}, {}}},
        {"saved path gone, found by id", "conv", f.tmp.filePath("gone.jsonl"), QSet<QString>{},
         {{"--resume", "conv"}, {}}},
        {"no transcript", "nothing", std::nullopt, QSet<QString>{}, {}},
        {"live elsewhere", "conv", std::nullopt, QSet<QString>{"conv", "other"}, {{"agents"}, banner}},
        {"live, no transcript here", "0123456789abcdef", std::nullopt, QSet<QString>{"0123456789abcdef"},
         {{"agents"}, "Session 01234567 is still running in the background — pick it below to attach."}},
        {"others live", "conv", std::nullopt, QSet<QString>{"other"}, {{"--resume", "conv"}, {}}},
        {"probe cannot tell", "conv", std::nullopt, std::nullopt, {{"--resume", "conv"}, {}}},
    };
    const ClaudeProvider claude;
    for (const Case& c : cases) {
        f.live = c.live;
        EXPECT_EQ(f.resume.launchPlan(claude, c.id, c.transcript, wd), c.plan) << c.what;
    }
    // Only sessions with an id ask who is running.
    EXPECT_EQ(f.probes, int(std::size(cases)) - 2);
    // The transcript is looked up in the working directory given.
    f.live = QSet<QString>{};
    EXPECT_EQ(f.resume.launchPlan(claude, QString("conv"), std::nullopt, "/w/other"), Plan{});
}

TEST(AgentSessionResume, CodexResumesByRolloutPathOrBySearchOfTheDateTree) {
    ResumeFixture f;
    const QString id = "0199a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a5b";
    const QString saved = f.tmp.filePath("saved-rollout.jsonl");
    const CodexProvider codex;
    const Plan resume{{"resume", id}, {}};

    EXPECT_EQ(f.resume.launchPlan(codex, id, saved, "/w/app"), Plan{});
    ASSERT_TRUE(writeTextFile(saved, "{}\n"));
    EXPECT_EQ(f.resume.launchPlan(codex, id, saved, "/w/app"), resume);
    ASSERT_TRUE(QFile::remove(saved));
    ASSERT_TRUE(writeTextFile(f.resume.codexSessionsRoot + "/2025/10/02/rollout-2025-10-02T08-00-00-" + id + ".jsonl",
                              "{}\n"));
    EXPECT_EQ(f.resume.launchPlan(codex, id, saved, "/w/app"), resume);
    EXPECT_EQ(f.resume.launchPlan(codex, id, std::nullopt, "/w/app"), resume);
    EXPECT_EQ(f.resume.launchPlan(codex, QString("another"), std::nullopt, "/w/app"), Plan{});
    // Codex has no picker, so nobody asks what runs elsewhere, and a live id changes nothing.
    f.live = QSet<QString>{id};
    EXPECT_EQ(f.resume.launchPlan(codex, id, std::nullopt, "/w/app"), resume);
    EXPECT_EQ(f.probes, 0);
}

TEST(AgentSessionResume, OtherAgentsResumeWhenTheirSavedTranscriptExists) {
    ResumeFixture f;
    const OtherProvider other;
    const QString path = f.tmp.filePath("t.jsonl");
    EXPECT_EQ(f.resume.launchPlan(other, QString("s1"), path, "/w"), Plan{});
    EXPECT_EQ(f.resume.launchPlan(other, QString("s1"), std::nullopt, "/w"), Plan{});
    ASSERT_TRUE(writeTextFile(path, ""));
    EXPECT_EQ(f.resume.launchPlan(other, QString("s1"), path, "/w"), (Plan{{"--continue", "s1"}, {}}));
    EXPECT_EQ(f.probes, 0);
}

TEST(AgentSessionResume, StandardStoresLiveUnderTheHome) {
    TempHome home;
    const AgentSessionResume resume = AgentSessionResume::standard();
    EXPECT_EQ(resume.claudeProjectsRoot, home.path() + "/.claude/projects");
    EXPECT_EQ(resume.codexSessionsRoot, home.path() + "/.codex/sessions");
    ASSERT_TRUE(resume.liveSessionProbe);
    EXPECT_EQ(resume.liveSessionProbe(CodexProvider()), std::nullopt);
}
