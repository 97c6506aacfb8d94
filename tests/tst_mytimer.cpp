#include <QElapsedTimer>
#include <QtTest>

#include <vector>

#include "support/busfixture.h"
#include "transport/mytimer.h"

namespace {

QStringList capturedMessages;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message) {
    capturedMessages.append(message);
}

}  // namespace

class TestMyTimer : public QObject {
    Q_OBJECT

private slots:
    void ticksEveryHundredMillisecondsOnItsOwn();
    void deletionIsReportedOnce();
};

void TestMyTimer::ticksEveryHundredMillisecondsOnItsOwn() {
    MyTimer timer;
    QElapsedTimer clock;
    std::vector<qint64> tickTimes;
    connect(&timer, &MyTimer::handleTimeout, [&] { tickTimes.push_back(clock.elapsed()); });
    clock.start();

    runEventLoopFor(1050);

    // A coarse timer may fire up to 5 % early; a loaded machine may drop some ticks.
    QVERIFY2(tickTimes.size() >= 5, qPrintable(QString::number(tickTimes.size())));
    QVERIFY2(tickTimes.size() <= 11, qPrintable(QString::number(tickTimes.size())));
    QVERIFY(tickTimes.front() >= 90);
    for (std::size_t i = 1; i < tickTimes.size(); ++i)
        QVERIFY2(tickTimes[i] - tickTimes[i - 1] >= 90,
                 qPrintable(QStringLiteral("tick %1 came %2 ms after the one before")
                                .arg(i)
                                .arg(tickTimes[i] - tickTimes[i - 1])));
}

void TestMyTimer::deletionIsReportedOnce() {
    auto *timer = new MyTimer;
    capturedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    delete timer;
    qInstallMessageHandler(previous);

    QCOMPARE(capturedMessages, QStringList{QStringLiteral("time delete")});
}

QTEST_GUILESS_MAIN(TestMyTimer)
#include "tst_mytimer.moc"
