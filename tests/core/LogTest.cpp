#include "core/Log.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(SystemLog, FormatsTagAndMessage) {
    LogCapture capture;
    SystemLog::write(u"Orchestration", QStringLiteral("listening at %1").arg("/x.sock"));
    EXPECT_EQ(capture.lines(), QStringList{"[Orchestration] listening at /x.sock"});
}
