#include "sessions/terminal/AgentTerminalView.h"

#include "core/Log.h"

AgentTerminalView::AgentTerminalView(QWidget* parent) : TerminalWidget(parent) {}

AgentTerminalView::~AgentTerminalView() = default;

QString AgentTerminalView::currentScreenText() const {
    const TerminalSurface* s = surface();
    QStringList lines;
    lines.reserve(s->rows());
    for (int row = 0; row < s->rows(); ++row) {
        QString text = s->rowText(row);
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1).isSpace()) --end;
        text.truncate(end);
        lines << text;
    }
    return lines.join(QLatin1Char('\n'));
}

void AgentTerminalView::installKeyMonitor() {
    if (keyMonitorInstalled_) return;
    keyMonitorInstalled_ = true;
}

void AgentTerminalView::dataReceived(QByteArrayView bytes) {
    if (onPtyData) onPtyData(bytes);
    TerminalWidget::dataReceived(bytes);
}

void AgentTerminalView::dataSent(QByteArrayView bytes) { TerminalWidget::dataSent(bytes); }

void AgentTerminalView::processEnded(std::optional<int> exitCode) {
    SystemLog::write(u"AgentTerminalView",
                     QStringLiteral("processTerminated exitCode=%1")
                         .arg(exitCode ? QString::number(*exitCode) : QStringLiteral("nil")));
    TerminalWidget::processEnded(exitCode);
    if (onProcessTerminated) onProcessTerminated(exitCode);
}
