#include "bridge/MCPBridge.h"

#include "bridge/MCPBridgeRunner.h"

#include <csignal>

namespace MCPBridge {

QString sessionFromArguments(const QStringList& arguments) {
    const qsizetype at = arguments.lastIndexOf(QStringLiteral("--session"));
    if (at >= 0 && at + 1 < arguments.size()) return arguments.at(at + 1);
    return QStringLiteral("current");
}

namespace {
std::optional<QString> environment(const char* name) {
    const QByteArray value = qgetenv(name);
    if (value.isEmpty()) return std::nullopt;  // set but empty tells nothing either
    return QString::fromLocal8Bit(value);
}
}  // namespace

void run(const QStringList& arguments) {
    std::signal(SIGPIPE, SIG_IGN);
    MCPBridgeRunner runner(sessionFromArguments(arguments), environment("VRNX_ORCH_SOCK"),
                           environment("VRNX_ORCH_TOKEN"));
    runner.serve(0);
}

}  // namespace MCPBridge
