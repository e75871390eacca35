// termbench --size COLSxROWS --font FAMILY,SIZE --scrollback N [--stats] [--bare] -- COMMAND...
//
// Shows the terminal widget, runs COMMAND as its direct child on the pseudo-terminal, draws
// what it writes, and exits with the child's status when the child exits. Throughput is the
// command's bytes over the wall time of a run, the start-up time of `-- true` subtracted.
//
// --stats  prints to stderr: bytes, seconds, paints per second, the event loop's worst and 99th
//          percentile lateness during the run, the resident memory of the shown, empty view
//          and what the run added to it (the screen and scroll-back).
// --bare   reads the child's output and drops it (no emulation, no widget): the PTY's own speed.
#include "sessions/terminal/PtyProcess.h"
#include "sessions/terminal/TerminalWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <vector>

namespace {

long residentKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

int usage() {
    std::fputs("usage: termbench --size COLSxROWS --font FAMILY,SIZE --scrollback N [--stats] [--bare] -- COMMAND...\n",
               stderr);
    return 2;
}

// The view with a tap that counts what the child wrote.
class BenchView : public TerminalWidget {
public:
    qint64* bytes = nullptr;

protected:
    void dataReceived(QByteArrayView b) override { *bytes += b.size(); }
};

// Counts paints of the terminal.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    int cols = 120, rows = 40, scrollback = TerminalSurface::kDefaultScrollback;
    QString family = QStringLiteral("DejaVu Sans Mono");
    double size = 11;
    bool stats = false, bare = false;
    QStringList command;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        auto next = [&]() -> QString { return i + 1 < argc ? QString::fromLocal8Bit(argv[++i]) : QString(); };
        if (a == QLatin1String("--")) {
            for (++i; i < argc; ++i) command << QString::fromLocal8Bit(argv[i]);
        } else if (a == QLatin1String("--size")) {
            const QStringList p = next().split(QLatin1Char('x'));
            if (p.size() != 2) return usage();
            cols = p[0].toInt();
            rows = p[1].toInt();
        } else if (a == QLatin1String("--font")) {
            const QString f = next();
            const int comma = f.lastIndexOf(QLatin1Char(','));
            if (comma < 0) return usage();
            family = f.left(comma);
            size = f.mid(comma + 1).toDouble();
        } else if (a == QLatin1String("--scrollback")) {
            scrollback = next().toInt();
        } else if (a == QLatin1String("--stats")) {
            stats = true;
        } else if (a == QLatin1String("--bare")) {
            bare = true;
        } else {
            return usage();
        }
    }
    if (command.isEmpty() || cols < 1 || rows < 1 || size <= 0) return usage();

    QApplication app(argc, argv);
    const long rssBeforeView = residentKiB();
    long rssBefore = rssBeforeView;  // once the view is shown and painted, before the child
    QElapsedTimer clock;
    int status = 0;
    qint64 bytes = 0;

    // The event loop's lateness, sampled every 4 ms during the run.
    std::vector<qint64> lateness;
    QElapsedTimer tick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(4);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (tick.isValid()) lateness.push_back(std::max<qint64>(0, tick.nsecsElapsed() / 1000 - 4000));
        tick.start();
    });

    std::unique_ptr<TerminalWidget> view;
    std::unique_ptr<PtyProcess> pty;
    PaintCounter counter;
    auto finish = [&](int code) {
        const double seconds = clock.nsecsElapsed() / 1e9;
        probe.stop();
        status = code;
        if (stats) {
            std::sort(lateness.begin(), lateness.end());
            const qint64 worst = lateness.empty() ? 0 : lateness.back();
            const qint64 p99 = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
            std::fprintf(stderr,
                         "bytes %lld\nseconds %.3f\npaints %d\npaints-per-second %.1f\nloop-late-max-ms %.2f\n"
                         "loop-late-p99-ms %.2f\nrss-view-kib %ld\nrss-added-kib %ld\nscrollback-lines %d\n",
                         (long long)bytes, seconds, counter.paints, counter.paints / std::max(seconds, 1e-9),
                         worst / 1000.0, p99 / 1000.0, rssBefore - rssBeforeView, residentKiB() - rssBefore,
                         view ? view->surface()->scrollback().size() : 0);
        }
        QTimer::singleShot(0, &app, [&app, code] { app.exit(code); });
    };
    auto exitStatus = [](int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); };

    if (bare) {
        pty = std::make_unique<PtyProcess>();
        pty->onData = [&](const char*, size_t n) { bytes += qint64(n); };
        pty->onFinished = [&](int raw) { finish(exitStatus(raw)); };
        clock.start();
        probe.start();
        if (!pty->start(command.first(), command.mid(1), {}, {}, {cols, rows, 0, 0})) {
            std::fprintf(stderr, "termbench: %s\n", qPrintable(pty->errorString()));
            return 127;
        }
        return app.exec();
    }

    auto bench = std::make_unique<BenchView>();
    bench->bytes = &bytes;
    view = std::move(bench);
    QFont font(family);
    font.setPointSizeF(size);  // as other terminals take a font size
    view->setTerminalFont(font);
    view->surface()->setScrollbackLimit(scrollback);
    view->resize(view->sizeForCells(cols, rows));
    view->installEventFilter(&counter);
    view->show();
    view->activateWindow();  // focused, as a terminal being used is (cursor, focus reports)
    view->setFocus();
    TerminalWidget* v = view.get();
    QObject::connect(v, &TerminalWidget::processTerminated, [&, v](std::optional<int> code) {
        finish(code ? *code : 128 + v->surface()->terminationSignal());
    });
    QTimer::singleShot(100, v, [&, v] {
        rssBefore = residentKiB();
        clock.start();
        probe.start();
        if (!v->startProcess(command.first(), command.mid(1))) {
            std::fprintf(stderr, "termbench: %s\n", qPrintable(v->surface()->errorString()));
            app.exit(127);
        }
    });
    return app.exec();
}
