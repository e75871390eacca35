// Shows an agent terminal view running bash with coloured output, in one terminal theme, with
// the tmux card when asked, for looking at under Xvfb:
//   agentview_shot [--theme NAME] [--card] [--select] [--seconds N] [--out FILE.png] [--cmd TEXT]
// It stays up for N seconds (for `import -window root`) and writes its own grab to FILE.
#include "sessions/terminal/AgentTerminalView.h"
#include "ui/TerminalThemes.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setPalette(Theme::darkPalette());
    QString themeName = QStringLiteral("Varnix"), out, command;
    bool card = false, select = false;
    int seconds = 3;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--theme" && i + 1 < args.size()) themeName = args[++i];
        else if (args[i] == "--card") card = true;
        else if (args[i] == "--select") select = true;
        else if (args[i] == "--seconds" && i + 1 < args.size()) seconds = args[++i].toInt();
        else if (args[i] == "--out" && i + 1 < args.size()) out = args[++i];
        else if (args[i] == "--cmd" && i + 1 < args.size()) command = args[++i];
    }

    AgentTerminalView view;
    view.setWindowTitle(QStringLiteral("%1").arg(themeName));
    TerminalThemes::theme(themeName).apply(&view);
    view.setTerminalFont(Theme::terminalFont(13));
    view.installKeyMonitor();
    view.resize(900, 560);
    view.move(20, 20);
    view.show();
    view.activateWindow();
    view.setFocus();

    const QString script = !command.isEmpty() ? command : QStringLiteral(
        "export PS1='\\[\\e[32m\\]user@host\\[\\e[0m\\]:\\[\\e[34m\\]~/project\\[\\e[0m\\]$ '; "
        "cd /usr/share && ls --color=always -F | head -40 | column -c 110; echo; "
        "for i in 0 1 2 3 4 5 6 7; do printf '\\e[4%sm  \\e[0m' $i; done; echo; "
        "for i in 0 1 2 3 4 5 6 7; do printf '\\e[10%sm  \\e[0m' $i; done; echo; "
        "for i in 1 2 3 4 5 6 7; do printf '\\e[3%sm%s \\e[1m%s\\e[0m  ' $i colour$i bright$i; done; echo; "
        "printf '\\e[2mdim\\e[0m \\e[3mitalic\\e[0m \\e[4munderline\\e[0m \\e[7mreverse\\e[0m\\n'; exec bash --norc -i");
    view.startProcess(QStringLiteral("/bin/bash"), {QStringLiteral("--norc"), QStringLiteral("-c"), script},
                      {QStringLiteral("TERM=xterm-256color"), QStringLiteral("PS1=$ "), QStringLiteral("HOME=/tmp"),
                       QStringLiteral("PATH=/usr/bin:/bin")});

    QTimer::singleShot(1200, &view, [&] {
        if (select) {
            const QPoint from = view.terminalRect().topLeft() + QPoint(2, view.cellSize().height() / 2);
            const QPoint to = from + QPoint(view.cellSize().width() * 40, view.cellSize().height() * 2);
            QMouseEvent press(QEvent::MouseButtonPress, from, view.mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QMouseEvent move(QEvent::MouseMove, to, view.mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QMouseEvent release(QEvent::MouseButtonRelease, to, view.mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
            QApplication::sendEvent(&view, &press);
            QApplication::sendEvent(&view, &move);
            QApplication::sendEvent(&view, &release);
        }
        if (card) {
            QKeyEvent ctrlB(QEvent::KeyPress, Qt::Key_B, Qt::ControlModifier, QStringLiteral("\x02"));
            QApplication::sendEvent(&view, &ctrlB);
        }
    });
    QTimer::singleShot(1800, &view, [&] {
        if (!out.isEmpty()) view.grab().save(out);
    });
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}
