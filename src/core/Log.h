#pragma once

#include <QString>
#include <QStringView>
#include <functional>

// One line per event, "[Tag] message", to the system log and to stderr. No levels.
namespace SystemLog {

void write(QStringView tag, const QString& message);

// Tests install a sink to see the lines; the previous sink is returned so it can be restored.
using Sink = std::function<void(const QString& line)>;
Sink setSink(Sink sink);

// Routes Qt's own qDebug/qWarning output through the same stderr format.
void installQtMessageHandler();

}  // namespace SystemLog
