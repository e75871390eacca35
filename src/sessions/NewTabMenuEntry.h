#pragma once

#include "sessions/AgentProvider.h"

#include <QFlags>
#include <QList>
#include <QString>

// One item of the new-tab menu. Modifiers are logical: the window's chord table turns Primary
// into this platform's keys and labels.
struct NewTabMenuEntry {
    enum class Kind { agentSession, terminal, orchestrator, separator };
    enum class Modifier { Primary = 0x1, Shift = 0x2 };
    Q_DECLARE_FLAGS(Modifiers, Modifier)

    Kind kind = Kind::separator;
    QString agentID;  // the provider's id, for agentSession entries only
    QString title;
    QString keyEquivalent;  // one character, or empty
    Modifiers modifiers;

    bool operator==(const NewTabMenuEntry& other) const = default;

    // "New Terminal", "New Orchestrator Session", a separator, then "New <name> Session" for each
    // provider; the first two providers get T with Primary and with Primary+Shift.
    static QList<NewTabMenuEntry> entries(const QList<AgentProviderRef>& providers = AgentRegistry::all());
};

Q_DECLARE_OPERATORS_FOR_FLAGS(NewTabMenuEntry::Modifiers)
