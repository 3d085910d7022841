// velmora-window-probe: opens the window on a folder, presses ExecuteButton once, and logs
// what a user would see of the run: when the progress bar moved, when the window took input
// again, and how late the window's event loop answered. bench/window_run drives it and reads
// the log; it is built only on request (not part of the program).
//
// Usage: velmora-window-probe FOLDER LOG
// The window starts as on a first start (no settings file: a copy run into yymmdd folders
// inside FOLDER). Each log line is "EVENT REALTIME_NS [VALUE]":
//   click T               ExecuteButton pressed
//   progress T V          ProgressBar1 took value V
//   finished T OK         the window takes input again (runFinished)
//   tick T ENABLED        the event loop answered a 10 ms timer; ENABLED 0 or 1
//   cpu_ns N              processor time of the process (all threads) from the click to the end
//   cpu_run_ns N          the same from the click until the window takes input again
//   gui_ns N              processor time of the GUI thread alone from the click to the end
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "ui/form1.h"

namespace {

long long Now()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Processor time of the whole process, or of the calling thread alone.
long long ProcessorTime(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    const auto ns = [](const timeval& t) {
        return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_usec * 1000LL;
    };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: velmora-window-probe FOLDER LOG\n");
        return 2;
    }
    std::FILE* log = std::fopen(args[2].toLocal8Bit().constData(), "w");
    if (log == nullptr) {
        std::perror("velmora-window-probe: log");
        return 2;
    }

    QTemporaryDir programFolder; // no settings file: the defaults of a first start
    ui::Form1 window(programFolder.path());
    window.StartUp(args[1]);
    window.show();

    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    auto* execute = window.findChild<QPushButton*>(QStringLiteral("ExecuteButton"));
    QObject::connect(bar, &QProgressBar::valueChanged,
                     [log](int value) { std::fprintf(log, "progress %lld %d\n", Now(), value); });

    long long clickAt = 0;
    long long cpuAtClick = 0;
    long long guiAtClick = 0;
    long long finishedAt = 0;
    long long lastStall = 0; // end of the last gap of more than 100 ms between ticks
    long long previousTick = 0;
    QObject::connect(&window, &ui::Form1::runFinished, [&](bool ok) {
        finishedAt = Now();
        std::fprintf(log, "finished %lld %d\n", finishedAt, ok ? 1 : 0);
        std::fprintf(log, "cpu_run_ns %lld\n", ProcessorTime() - cpuAtClick);
    });

    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(10);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const long long now = Now();
        std::fprintf(log, "tick %lld %d\n", now, window.isEnabled() ? 1 : 0);
        if (previousTick != 0 && now - previousTick > 100000000LL) {
            lastStall = now;
        }
        previousTick = now;
        // Done once the run has ended and the window has answered promptly for 3 s, or ten
        // minutes after the click whatever happened (a big run on a busy machine).
        const bool settled =
            finishedAt != 0 && now - std::max(finishedAt, lastStall) > 3000000000LL;
        if (settled || now - clickAt > 600000000000LL) {
            std::fprintf(log, "cpu_ns %lld\n", ProcessorTime() - cpuAtClick);
            std::fprintf(log, "gui_ns %lld\n", ProcessorTime(RUSAGE_THREAD) - guiAtClick);
            std::fclose(log);
            QCoreApplication::exit(finishedAt != 0 ? 0 : 1);
        }
    });

    // The window has shown and read its lists for a second before the run starts, as when a
    // user opens it and then presses the button.
    QTimer::singleShot(1000, [&] {
        ticks.start();
        cpuAtClick = ProcessorTime();
        guiAtClick = ProcessorTime(RUSAGE_THREAD);
        clickAt = Now();
        std::fprintf(log, "click %lld\n", clickAt);
        execute->click();
    });
    return QApplication::exec();
}
