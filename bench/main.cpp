// workbench_bench: figures of the program against the simulated sensor, each beside what it
// is measured against in the same run. Not a test: it reports, it does not judge pass/fail.
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <functional>

#include "bench/busbench.h"
#include "bench/children.h"
#include "bench/profilebench.h"
#include "bench/programbench.h"
#include "bench/stats.h"

namespace {

struct Section {
    const char *name;
    const char *title;
    const char *about;
    std::vector<ResultRow> rows;
};

QString figure(double value) {
    if (value == double(qint64(value)) && std::abs(value) < 1e9)
        return QString::number(qint64(value));
    return QString::number(value, 'f', std::abs(value) < 10 ? 2 : 1);
}

QString table(const std::vector<ResultRow> &rows) {
    QString text;
    QTextStream out(&text);
    out << "| figure | value | against | reference | ratio | target |\n";
    out << "|---|---|---|---|---|---|\n";
    for (const ResultRow &row : rows) {
        const QString ratio = row.reference != 0
                                  ? QString::number(row.value / row.reference, 'f', 2)
                                  : QStringLiteral("–");
        QString target = row.target.isEmpty() ? QStringLiteral("–") : row.target;
        if (!row.target.isEmpty())
            target += row.met ? QStringLiteral(" (met)") : QStringLiteral(" (**not met**)");
        const QString unit = row.unit.isEmpty() ? QString() : QLatin1Char(' ') + row.unit;
        out << "| " << row.what << " | " << figure(row.value) << unit << " | " << row.against
            << " | " << figure(row.reference) << unit << " | " << ratio << " | " << target
            << " |\n";
    }
    return text;
}

QString firstLineOf(const QString &path, const QString &prefix) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Files under /proc report a size of 0: read until the end instead of asking for it.
    for (const QString &line : QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed();
    }
    return {};
}

QString machine() {
    const QString cpu = firstLineOf(QStringLiteral("/proc/cpuinfo"), QStringLiteral("model name"))
                            .section(QLatin1Char(':'), 1)
                            .trimmed();
    const QString memory =
        firstLineOf(QStringLiteral("/proc/meminfo"), QStringLiteral("MemTotal:"));
    return QStringLiteral("%1 (%2), %3, %4 cores, %5 memory; Qt %6, %7")
        .arg(QSysInfo::prettyProductName(), QSysInfo::kernelVersion(), cpu)
        .arg(QThread::idealThreadCount())
        .arg(memory, QLatin1String(qVersion()), QStringLiteral("g++ " __VERSION__));
}

QString fuzzSection(const QString &sourceDir) {
    QFile file(sourceDir + QStringLiteral("/fuzz/last-long-run.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("No long run recorded yet (`scripts/workbench.sh fuzz 600`).\n");
    return QStringLiteral(
               "From `fuzz/last-long-run.txt`, written by `scripts/workbench.sh fuzz` "
               "at the end of its last run of 10 minutes or more:\n\n```\n") +
           QString::fromUtf8(file.readAll()) + QStringLiteral("```\n");
}

void writeMarkdown(const QString &path, const std::vector<Section> &sections,
                   const QString &sourceDir, const QString &command) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return;
    }
    QTextStream out(&file);
    out << "# Performance\n\n"
        << "Written by `" << command << "` (the `workbench_bench` program) on "
        << QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm")) << " UTC; "
        << "do not edit by hand. Each figure stands beside what it was measured against in the "
           "same run; the ratio is value / reference.\n\n"
        << "Machine: " << machine()
        << ". Headless (`QT_QPA_PLATFORM=offscreen`); the simulated "
           "sensor answers on a pseudo-terminal with its line timing on.\n\n";
    for (const Section &section : sections) {
        if (section.rows.empty())
            continue;
        out << "## " << section.title << "\n\n"
            << section.about << "\n\n"
            << table(section.rows) << '\n';
    }
    out << "## Fuzzing\n\n" << fuzzSection(sourceDir) << '\n';
}

}  // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 2 && arguments[1] == QLatin1String("--child"))
        return runChild(arguments[2], arguments.mid(3));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Measures sensor_workbench against the simulated sensor."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("only"),
         QStringLiteral(
             "Comma-separated sections: bus, cpu, samples, startup, click, profile, soak."),
         QStringLiteral("list")},
        {QStringLiteral("bus-seconds"), QStringLiteral("Acquisition per baud rate (default 10)."),
         QStringLiteral("s"), QStringLiteral("10")},
        {QStringLiteral("cpu-seconds"), QStringLiteral("CPU windows (default 30)."),
         QStringLiteral("s"), QStringLiteral("30")},
        {QStringLiteral("soak-seconds"), QStringLiteral("Fault soak (default 300)."),
         QStringLiteral("s"), QStringLiteral("300")},
        {QStringLiteral("rough-repeats"), QStringLiteral("Each rough event (default 20)."),
         QStringLiteral("n"), QStringLiteral("20")},
        {QStringLiteral("markdown"), QStringLiteral("Also write the results to this file."),
         QStringLiteral("file")},
        {QStringLiteral("source-dir"), QStringLiteral("The source tree (for the fuzz record)."),
         QStringLiteral("dir"), QStringLiteral(".")},
    });
    parser.process(app);
    const auto seconds = [&parser](const char *name) {
        return std::max(1, parser.value(QLatin1String(name)).toInt());
    };
    const QStringList only =
        parser.value(QStringLiteral("only")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    const auto wanted = [&only](const char *name) {
        return only.isEmpty() || only.contains(QLatin1String(name));
    };

    std::vector<Section> sections = {
        {"bus",
         "The bus",
         "Against the simulated sensor at two baud rates: each read's duration against its fixed "
         "wait, the spacing of acquisition cycles at the 0.1 s period against the design's "
         "schedule (a cycle on every second tick when it fits in one, else on the first tick "
         "after it ends), and how long the window's event loop is kept away (a 1 ms timer's "
         "lateness). A read without a reply costs its wait plus the quiet time the master "
         "then waits for before its next request.",
         {}},
        {"cpu",
         "CPU",
         "CPU time of separate processes over the same window of time. The bare window is a "
         "QMainWindow with a QChartView and a 100 ms timer; the design's floor is the same "
         "window that also starts a QThread whose run() returns at once, and waits for it, on "
         "every tick, as the program's worker does. The simulated sensor runs in a process of its "
         "own. Windows that are compared with each other (the floor and the idle program; "
         "acquisition without and with recording) run in halves, A B B A, so that a drift of the "
         "machine weighs on both alike. On a shared virtual machine a figure here can still move "
         "by a fifth from run to run: read a change into a ratio only when several runs agree.",
         {}},
        {"samples",
         "Per-sample cost and memory",
         "Samples fed through the real main loop and chart as fast as the worker's idle runs "
         "allow; GUI-thread CPU per sample, main loop and chart repaint: the median of the 200 "
         "samples that follow the 100th, the 10,000th and the 100,000th. The log pane keeps every "
         "line, so it grows for as long as the program "
         "runs: the second table gives the rate.",
         {}},
        {"startup", "Start-up", "From process start to the first painted window, offscreen.", {}},
        {"click",
         "Click to result",
         "Ticks from pressing a read button (at a random moment within a tick) to its result "
         "line.",
         {}},
        {"profile",
         "Sensor profiles",
         "A profile of every configuration register saved and applied through the window "
         "against the simulated sensor: the save from the action to the file dialog, the apply "
         "from the action to its summary line, with every row ticked (the address and the baud "
         "rate too, to values that keep the sensor on the line) and the time the confirmation "
         "is open left out. The design's schedule: each request is taken up by the run that a "
         "tick starts and presented by the first tick after that run, which posts the next; a "
         "read (frame and fixed wait) fits in one tick at both rates, a write (frame and 200 ms) "
         "takes three; the first request waits for the tick after the action, the first write "
         "for the tick after the confirmation.",
         {}},
        {"soak",
         "Fault soak",
         "Acquisition at the 0.1 s period, 115200 baud, while the sensor misbehaves in a fifth "
         "of its replies (silence, bad CRC, split replies, stray bytes, late replies up to "
         "100 ms, exception replies, wrong echoes, frames of its own before or instead of a "
         "reply) and reads and writes are pressed in between; then each rough event repeated.",
         {}},
    };
    for (Section &section : sections) {
        if (!wanted(section.name))
            continue;
        const QString name = QLatin1String(section.name);
        if (name == QLatin1String("bus")) {
            for (const int baudRate : {115200, 9600}) {
                std::fprintf(stderr, "bus at %d baud...\n", baudRate);
                const std::vector<ResultRow> rows = runBusBench(baudRate, seconds("bus-seconds"));
                section.rows.insert(section.rows.end(), rows.begin(), rows.end());
            }
        } else if (name == QLatin1String("cpu")) {
            section.rows = runCpuBench(seconds("cpu-seconds"));
        } else if (name == QLatin1String("samples")) {
            section.rows = runSampleAndMemoryBench();
        } else if (name == QLatin1String("startup")) {
            section.rows = runStartupBench(10);
        } else if (name == QLatin1String("click")) {
            section.rows = runClickBench(40);
        } else if (name == QLatin1String("profile")) {
            for (const int baudRate : {115200, 9600}) {
                std::fprintf(stderr, "profiles at %d baud...\n", baudRate);
                const std::vector<ResultRow> rows = runProfileBench(baudRate, 5);
                section.rows.insert(section.rows.end(), rows.begin(), rows.end());
            }
        } else if (name == QLatin1String("soak")) {
            section.rows = runSoakBench(seconds("soak-seconds"), seconds("rough-repeats"));
        }
        QTextStream(stdout) << "\n## " << section.title << "\n\n" << table(section.rows);
    }
    if (parser.isSet(QStringLiteral("markdown")))
        writeMarkdown(parser.value(QStringLiteral("markdown")), sections,
                      parser.value(QStringLiteral("source-dir")),
                      QStringLiteral("scripts/workbench.sh bench"));
    return 0;
}
