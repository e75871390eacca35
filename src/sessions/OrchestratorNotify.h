#pragma once

#include <QString>
#include <functional>
#include <optional>

// The notices a session manager types into an orchestrator's terminal about one of its workers.
namespace OrchestratorNotify {

// What happened to the worker: its process ended (with its exit code, none after a signal), or
// it finished a turn.
struct Event {
    enum class Kind { exited, turnFinished };
    Kind kind = Kind::turnFinished;
    std::optional<qint32> code;  // exited only

    static Event exited(std::optional<qint32> code) { return {Kind::exited, code}; }
    static Event turnFinished() { return {Kind::turnFinished, std::nullopt}; }

    // "exited(code: 3)", "exited(code: nil)", "turnFinished"; used in trace lines.
    QString description() const;

    friend bool operator==(const Event& a, const Event& b) {
        return a.kind == b.kind && (a.kind != Kind::exited || a.code == b.code);
    }
};

// The notice text for a worker's event; none when nothing is to be typed.
using Composer = std::function<std::optional<QString>(const Event& event, bool hasParent, const QString& name,
                                                      const QString& sessionID)>;

// The composer the session managers use. Until the notice wording is installed it composes
// nothing, so no notice is typed.
std::optional<QString> message(const Event& event, bool hasParent, const QString& name, const QString& sessionID);
// Installs a composer (null restores the built-in one); returns the previous one.
Composer setComposer(Composer composer);

}  // namespace OrchestratorNotify

// The optional trace of orchestrator notices: lines "[orch-notify] <text>" appended to the file
// named by VRNX_ORCH_TRACE; nothing when that variable is absent or empty. Any thread.
namespace OrchTrace {
void log(const QString& text);
}
