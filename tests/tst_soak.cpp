// Acquisition for a while against a sensor that misbehaves in a fifth of its replies, with
// presses in between; then the rough events, each many times.
#include <QtTest>

#include <algorithm>

#include "app/mainwindow.h"
#include "support/soak.h"

Q_DECLARE_METATYPE(RoughEvent)

namespace {

QWidget *newWindow() {
    return new MainWindow;
}

constexpr int kSoakSeconds = 30;
constexpr int kRoughRepeats = 20;

}  // namespace

class SoakTest : public QObject {
    Q_OBJECT

private slots:
    void faultsNeverShowAWrongResult();
    void roughEvents_data();
    void roughEvents();
};

void SoakTest::faultsNeverShowAWrongResult() {
    SoakOptions options;
    options.seconds = kSoakSeconds;
    const SoakReport report = runFaultSoak(options, newWindow);

    qInfo(
        "%d exchanges, %d with a fault, %d cycles; %d reads (%d succeeded), %d writes (%d "
        "succeeded); %zu clean cycle gaps",
        report.exchanges, report.faultedExchanges, report.cycles, report.readsPosted,
        report.readsSucceeded, report.writesPosted, report.writesSucceeded,
        report.cleanCycleGapsMs.size());
    QVERIFY2(report.completed, qPrintable(report.problems.join(QLatin1Char('\n'))));
    QVERIFY2(report.problems.isEmpty(), qPrintable(report.problems.join(QLatin1Char('\n'))));
    QCOMPARE(report.successForCorruptedReply, 0);
    QCOMPARE(report.valuesUnderWrongRegister, 0);
    QCOMPARE(report.postsNotPresentedOnce, 0);
    // It was a soak: faults hit, presses succeeded and failed, cycles ran.
    QVERIFY(report.faultedExchanges >= 20);
    QVERIFY(report.readsSucceeded > 0 && report.readsSucceeded < report.readsPosted);
    QVERIFY(report.writesSucceeded > 0);
    QVERIFY(report.cycles >= 30);
    // Untouched cycles keep the schedule (a sanity bound: the benchmark gives the figure).
    QVERIFY(!report.cleanCycleGapsMs.empty());
    std::vector<double> gaps = report.cleanCycleGapsMs;
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    const double median = gaps[gaps.size() / 2];
    QVERIFY2(median > report.scheduleMs - 100 && median < report.scheduleMs + 200,
             qPrintable(QString::number(median)));
}

void SoakTest::roughEvents_data() {
    QTest::addColumn<RoughEvent>("event");
    QTest::newRow("sensor hangs up") << RoughEvent::SensorHangsUp;
    QTest::newRow("port reopened mid-cycle") << RoughEvent::PortReopenedMidCycle;
    QTest::newRow("window closed mid-cycle") << RoughEvent::WindowClosedMidCycle;
}

void SoakTest::roughEvents() {
    QFETCH(RoughEvent, event);
    const RoughReport report = runRoughEvents(event, kRoughRepeats, newWindow);
    QVERIFY2(report.failures.isEmpty(), qPrintable(report.failures.join(QLatin1Char('\n'))));
    QCOMPARE(report.survived, kRoughRepeats);
}

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
