// workbench_bench: figures of the program against the simulated sensor, each beside what it
// is measured against in the same run. Not a test: it reports, it does not judge pass/fail.
#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>

#include "bench/busbench.h"
#include "bench/stats.h"

namespace {

QString figure(double value) {
    return QString::number(value, 'f', value < 10 ? 2 : 1);
}

void printTable(const std::vector<ResultRow> &rows) {
    QTextStream out(stdout);
    out << "| figure | value | against | reference | ratio | target |\n";
    out << "|---|---|---|---|---|---|\n";
    for (const ResultRow &row : rows) {
        const QString ratio =
            row.reference != 0 ? QString::number(row.value / row.reference, 'f', 2) : "–";
        QString target = row.target.isEmpty() ? QStringLiteral("–") : row.target;
        if (!row.target.isEmpty())
            target += row.met ? QStringLiteral(" (met)") : QStringLiteral(" (NOT met)");
        out << "| " << row.what << " | " << figure(row.value) << ' ' << row.unit << " | "
            << row.against << " | " << figure(row.reference) << ' ' << row.unit << " | " << ratio
            << " | " << target << " |\n";
    }
    out.flush();
}

}  // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Measures sensor_workbench against the simulated sensor."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("seconds"),
                      QStringLiteral("Acquisition time per baud rate (default 10)."),
                      QStringLiteral("s"), QStringLiteral("10")});
    parser.process(app);
    const int seconds = std::max(1, parser.value(QStringLiteral("seconds")).toInt());

    std::vector<ResultRow> rows;
    for (const int baudRate : {115200, 9600}) {
        std::fprintf(stderr, "bus at %d baud...\n", baudRate);
        const std::vector<ResultRow> bus = runBusBench(baudRate, seconds);
        rows.insert(rows.end(), bus.begin(), bus.end());
    }
    printTable(rows);
    return 0;
}
