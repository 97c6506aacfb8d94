#pragma once

#include <QString>
#include <QStringList>

// Measurements that need a process of their own (CPU time, resident memory, start-up), run
// as `workbench_bench --child MODE ...`. Each prints one line of key=value pairs on stdout.
//
//   bare        a QMainWindow with a QChartView and a 100 ms timer
//   floor       the same, also starting a QThread whose run() returns at once, and waiting
//               for it, on every tick: what a worker thread per run costs at the least
//   idle        the program's window with the port open to the simulated sensor
//   acquire     the same, acquiring at the 0.1 s period with the chart tab shown
//   acquire-record  the same, recording every sample to a CSV file
//   samples     samples fed fast through the main loop and the chart: GUI-thread time per
//               sample and resident memory after 100, 10,000 and 100,000 samples
//   log         an hour's worth of frame log lines at the 0.1 s period: resident memory
//   startup-bare, startup-program   prints when the first paint of the window happens
int runChild(const QString &mode, const QStringList &arguments);

// key=value pairs of a child's output line.
struct ChildResult {
    bool ok = false;
    QString error;
    double value(const QString &key, double fallback = 0) const;
    QStringList pairs;
};

// Runs this program as a child in the given mode and parses its last output line.
ChildResult runChildProcess(const QString &mode, const QStringList &arguments, int timeoutMs);
