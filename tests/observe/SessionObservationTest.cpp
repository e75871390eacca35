#include "observe/SessionObservation.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

// The usage fields as a session holds them.
struct FakeSession {
    QString model;
    qint64 tokensIn = 0, tokensOut = 0;
    std::optional<AgentLimits> limits;
    std::optional<double> contextPercent;
    std::optional<QString> agentSessionID, agentTranscriptPath;
    SessionUsageFields fields() {
        return {model, tokensIn, tokensOut, limits, contextPercent, agentSessionID, agentTranscriptPath};
    }
};

}  // namespace

TEST(SessionObservation, ApplyingSnapshots) {
    FakeSession session;
    session.model = "opus";
    session.limits = AgentLimits{LimitWindow{5, std::nullopt}, {}, {}, {}, false};
    session.contextPercent = 10;

    // Absent values leave what the session has; tokens are always copied.
    UsageSnapshot s;
    s.tokensIn = 5;
    s.tokensOut = 6;
    EXPECT_FALSE(applyUsageSnapshot(session.fields(), s).agentSessionChanged);
    EXPECT_EQ(session.tokensIn, 5);
    EXPECT_EQ(session.tokensOut, 6);
    EXPECT_EQ(session.model, "opus");
    EXPECT_TRUE(session.limits.has_value());
    EXPECT_EQ(session.contextPercent, 10);

    // A first conversation id brings its path and asks for a save.
    s.model = "sonnet";
    s.contextPercent = 25;
    s.sessionID = "conv-1";
    s.transcriptPath = "/t/1.jsonl";
    EXPECT_TRUE(applyUsageSnapshot(session.fields(), s).agentSessionChanged);
    EXPECT_EQ(session.model, "sonnet");
    EXPECT_EQ(session.contextPercent, 25);
    EXPECT_EQ(session.agentSessionID, "conv-1");
    EXPECT_EQ(session.agentTranscriptPath, "/t/1.jsonl");

    // Same id, moved file: only the path follows, no save.
    s.transcriptPath = "/t/1b.jsonl";
    EXPECT_FALSE(applyUsageSnapshot(session.fields(), s).agentSessionChanged);
    EXPECT_EQ(session.agentTranscriptPath, "/t/1b.jsonl");

    // A new id takes its path even when there is none.
    s.sessionID = "conv-2";
    s.transcriptPath.reset();
    EXPECT_TRUE(applyUsageSnapshot(session.fields(), s).agentSessionChanged);
    EXPECT_EQ(session.agentSessionID, "conv-2");
    EXPECT_EQ(session.agentTranscriptPath, std::nullopt);

    // No id in the snapshot keeps the session's.
    s.sessionID.reset();
    s.transcriptPath = "/t/3.jsonl";
    EXPECT_FALSE(applyUsageSnapshot(session.fields(), s).agentSessionChanged);
    EXPECT_EQ(session.agentSessionID, "conv-2");
    EXPECT_EQ(session.agentTranscriptPath, "/t/3.jsonl");
}

TEST(SessionObservation, TurnEndsAndDirectory) {
    using S = SessionState;
    EXPECT_TRUE(endsAgentTurn(S::generating, S::userInput));
    EXPECT_TRUE(endsAgentTurn(S::thinking, S::userInput));
    EXPECT_FALSE(endsAgentTurn(S::needsAttention, S::userInput));  // an answered question is not a turn
    EXPECT_FALSE(endsAgentTurn(S::idle, S::userInput));
    EXPECT_FALSE(endsAgentTurn(S::generating, S::idle));
    EXPECT_EQ(observationDirectory(QStringLiteral("/wt"), QStringLiteral("/p")), "/wt");
    EXPECT_EQ(observationDirectory(std::nullopt, QStringLiteral("/p")), "/p");
    EXPECT_EQ(observationDirectory(std::nullopt, std::nullopt), QDir::currentPath());
}
