#include "core/Preferences.h"
#include "sessions/AgentBinaryOverrideDialog.h"
#include "sessions/AgentBinaryResolver.h"

#include "support/TestSupport.h"
#include "QtPrinters.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// Counts shell lookups so a test can see whether the cache entry survived.
class CountingShell {
public:
    CountingShell() {
        AgentBinaryResolver::clearInteractiveCache();
        AgentBinaryResolver::setShellRunner([this](const QString&, bool, double) {
            ++calls;
            return std::optional<QString>();
        });
    }
    ~CountingShell() {
        AgentBinaryResolver::setShellRunner(nullptr);
        AgentBinaryResolver::clearInteractiveCache();
    }
    int calls = 0;
};

}  // namespace

TEST(AgentBinaryOverrideDialog, ShowsDetectionCurrentValueAndThreeButtons) {
    AgentBinaryOverrideDialog found("claude", "claude", "Claude Code", QString("/usr/local/bin/claude"),
                                    QString("~/bin/claude"));
    EXPECT_EQ(found.messageText(), "Claude Code binary");
    EXPECT_EQ(found.informativeText(),
              "Auto-detected (what your terminal's `claude` resolves to):\n/usr/local/bin/claude\n\n"
              "Leave the field empty to use auto-detection, or enter an explicit path to always launch a specific "
              "claude.");
    EXPECT_EQ(found.pathField()->text(), "~/bin/claude");
    EXPECT_EQ(found.pathField()->placeholderText(), "/usr/local/bin/claude");
    EXPECT_EQ(found.pathField()->size(), QSize(360, 24));
    EXPECT_EQ(found.button(AgentBinaryOverrideDialog::Save)->text(), "Save");
    EXPECT_EQ(found.button(AgentBinaryOverrideDialog::ResetToAuto)->text(), "Reset to Auto");
    EXPECT_EQ(found.button(AgentBinaryOverrideDialog::Cancel)->text(), "Cancel");
    EXPECT_TRUE(found.button(AgentBinaryOverrideDialog::Save)->isDefault());

    AgentBinaryOverrideDialog missing("codex", "codex", "Codex", std::nullopt, std::nullopt);
    EXPECT_EQ(missing.messageText(), "Codex binary");
    EXPECT_TRUE(missing.informativeText().contains("`codex` resolves to):\n— not found —\n\n"));
    EXPECT_TRUE(missing.informativeText().endsWith("a specific codex."));
    EXPECT_EQ(missing.pathField()->text(), "");
    EXPECT_EQ(missing.pathField()->placeholderText(), "/path/to/codex");

    EXPECT_EQ(AgentBinaryOverrideDialog::titleFor("claude", "claude"), "Claude Code");
    EXPECT_EQ(AgentBinaryOverrideDialog::titleFor("codex", "codex"), "Codex");

    QWidget window;
    AgentBinaryOverrideDialog sheet("claude", "claude", "Claude Code", std::nullopt, std::nullopt, &window);
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
}

TEST(AgentBinaryOverrideDialog, ButtonsSetOrResetTheOverrideAndAlwaysForgetTheCache) {
    ScopedMemoryPreferences prefs;
    CountingShell shell;
    const QString key = "Varnix.binaryPath.claude";
    auto primeCache = [&] {
        AgentBinaryResolver::resolveViaInteractiveShell("claude");
        const int before = shell.calls;
        AgentBinaryResolver::resolveViaInteractiveShell("claude");
        EXPECT_EQ(shell.calls, before);  // cached
        return before;
    };
    auto cacheWasForgotten = [&](int before) {
        AgentBinaryResolver::resolveViaInteractiveShell("claude");
        return shell.calls == before + 1;
    };

    {
        const int before = primeCache();
        AgentBinaryOverrideDialog d("claude", "claude", "Claude Code", std::nullopt, std::nullopt);
        d.pathField()->setText("  ~/bin/claude \n");
        d.button(AgentBinaryOverrideDialog::Save)->click();
        EXPECT_EQ(d.result(), AgentBinaryOverrideDialog::Save);
        EXPECT_EQ(prefs.prefs().stringValue(key), QString("~/bin/claude"));
        EXPECT_TRUE(cacheWasForgotten(before));
    }
    {
        const int before = primeCache();
        AgentBinaryOverrideDialog d("claude", "claude", "Claude Code", std::nullopt, QString("~/bin/claude"));
        d.pathField()->setText("/other/claude");
        d.button(AgentBinaryOverrideDialog::Cancel)->click();
        EXPECT_EQ(prefs.prefs().stringValue(key), QString("~/bin/claude"));
        EXPECT_TRUE(cacheWasForgotten(before));
    }
    {
        const int before = primeCache();
        AgentBinaryOverrideDialog d("claude", "claude", "Claude Code", std::nullopt, QString("~/bin/claude"));
        d.button(AgentBinaryOverrideDialog::ResetToAuto)->click();
        EXPECT_EQ(d.result(), AgentBinaryOverrideDialog::ResetToAuto);
        EXPECT_FALSE(prefs.prefs().contains(key));
        EXPECT_TRUE(cacheWasForgotten(before));
    }
    {
        prefs.prefs().setValue(key, QString("/x/claude"));
        AgentBinaryOverrideDialog d("claude", "claude", "Claude Code", std::nullopt, QString("/x/claude"));
        d.pathField()->setText("   ");
        d.button(AgentBinaryOverrideDialog::Save)->click();
        EXPECT_FALSE(prefs.prefs().contains(key));  // an empty field means auto-detection
    }
}

TEST(AgentBinaryOverrideDialog, PresentDetectsAndAppliesTheChoice) {
    ScopedMemoryPreferences prefs;
    CountingShell shell;
    bool sawDialog = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* d = qobject_cast<AgentBinaryOverrideDialog*>(QApplication::activeModalWidget());
        if (!d || sawDialog) return;
        sawDialog = true;
        EXPECT_TRUE(d->informativeText().contains("— not found —"));
        d->pathField()->setText("/opt/codex");
        d->button(AgentBinaryOverrideDialog::Save)->click();
    });
    poll.start(20);
    const auto choice = AgentBinaryOverrideDialog::present(nullptr, "codex", "codex", "Codex");
    EXPECT_TRUE(sawDialog);
    EXPECT_EQ(choice, AgentBinaryOverrideDialog::Save);
    EXPECT_EQ(shell.calls, 1);
    EXPECT_EQ(prefs.prefs().stringValue("Varnix.binaryPath.codex"), QString("/opt/codex"));
}
