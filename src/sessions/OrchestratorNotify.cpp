#include "sessions/OrchestratorNotify.h"

#include <QFile>
#include <mutex>

namespace OrchestratorNotify {

QString Event::description() const {
    if (kind == Kind::turnFinished) return QStringLiteral("turnFinished");
    return QStringLiteral("exited(code: %1)").arg(code ? QString::number(*code) : QStringLiteral("nil"));
}

namespace {

std::mutex composerMutex;

// Seam: the turn-finish notice wording plugs in here with its own issue; until then no text.
std::optional<QString> composeNothing(const Event&, bool, const QString&, const QString&) { return std::nullopt; }

Composer& installed() {
    static Composer composer = composeNothing;
    return composer;
}

}  // namespace

std::optional<QString> message(const Event& event, bool hasParent, const QString& name, const QString& sessionID) {
    Composer composer;
    {
        std::lock_guard lock(composerMutex);
        composer = installed();
    }
    return composer(event, hasParent, name, sessionID);
}

Composer setComposer(Composer composer) {
    std::lock_guard lock(composerMutex);
    Composer previous = std::move(installed());
    installed() = composer ? std::move(composer) : Composer(composeNothing);
    return previous;
}

}  // namespace OrchestratorNotify

namespace OrchTrace {

void log(const QString& text) {
    const QString path = qEnvironmentVariable("VRNX_ORCH_TRACE");
    if (path.isEmpty()) return;
    const QByteArray line = QStringLiteral("[orch-notify] %1\n").arg(text).toUtf8();
    // One open-append-close per line: the events queue and the main thread both write here.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) file.write(line);
}

}  // namespace OrchTrace
