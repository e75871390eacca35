#include "sessions/NewTabMenuEntry.h"

QList<NewTabMenuEntry> NewTabMenuEntry::entries(const QList<AgentProviderRef>& providers) {
    using M = Modifier;
    QList<NewTabMenuEntry> list{
        {Kind::terminal, {}, QStringLiteral("New Terminal"), {}, {}},
        {Kind::orchestrator, {}, QStringLiteral("New Orchestrator Session"), QStringLiteral("o"), M::Primary | M::Shift},
        {Kind::separator, {}, {}, {}, {}},
    };
    for (qsizetype i = 0; i < providers.size(); ++i) {
        NewTabMenuEntry entry{Kind::agentSession, providers[i]->id(),
                              QStringLiteral("New ") + providers[i]->displayName() + QStringLiteral(" Session"), {}, {}};
        if (i < 2) entry.keyEquivalent = QStringLiteral("t");
        if (i == 0) entry.modifiers = M::Primary;
        if (i == 1) entry.modifiers = M::Primary | M::Shift;
        list << entry;
    }
    return list;
}
