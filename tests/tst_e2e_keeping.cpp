// Keeping what was measured, through the window's context menus against the simulated sensor:
// samples recorded to a CSV file, a file that fails while acquisition goes on, the log saved.
#include <QAbstractScrollArea>
#include <QAction>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtCharts/QLineSeries>
#include <QtTest>

#include <cerrno>
#include <memory>
#include <type_traits>

#include "app/mainwindow.h"
#include "sensor/sharedstate.h"
#include "support/ops_session.h"

class KeepingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase() { session.reset(); }

    void contextMenusOfferTheActions_data();
    void contextMenusOfferTheActions();
    void recordsThePresentedSamples();
    void failingFileStopsRecordingOnly_data();
    void failingFileStopsRecordingOnly();
    void savedLogReadsBackAsShown();

private:
    MainWindow &window() { return static_cast<MainWindow &>(session->window()); }
    QAction *action(const char *name) { return window().findChild<QAction *>(name); }
    void chooseFile(const QString &path) {
        window().setSaveFileChooser(
            [this, path](const QString &, const QString &offered, const QString &) {
                suggested = offered;
                return path;
            });
    }
    // The log's lines from `first` on, without the frame dumps.
    QStringList operatorLinesFrom(int first) const {
        return session->logLinesFrom(first).filter(QRegularExpression("^(?!Send: |Receive: )"));
    }

    std::unique_ptr<OpsSession> session;
    QTemporaryDir folder;
    QString suggested;
};

void KeepingTest::initTestCase() {
    session = std::make_unique<OpsSession>([] { return new MainWindow; });
    QVERIFY(session->isValid());
    QVERIFY(session->openAndScan());
    setDistinctCycleReadings(session->sensor().model());
}

void KeepingTest::init() {
    session->click("scan_button_2");
    QVERIFY(session->waitForIdleWorker());
    session->sensor().clearFaultQueue();
    session->setText("line_time", QStringLiteral("0.1"));
}

void KeepingTest::contextMenusOfferTheActions_data() {
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QStringList>("lastEntries");
    QTest::newRow("chart") << "graphicsView"
                           << QStringList{"action_save_chart", "action_record_samples"};
    QTest::newRow("log, after its own entries") << "textEdit" << QStringList{"", "action_save_log"};
}

void KeepingTest::contextMenusOfferTheActions() {
    QFETCH(QString, widget);
    QFETCH(QStringList, lastEntries);
    auto *area = window().findChild<QAbstractScrollArea *>(widget);
    const QStringList entries = contextMenuEntries(*area->viewport(), QPoint(20, 20));
    QCOMPARE(entries.mid(entries.size() - lastEntries.size()), lastEntries);
}

void KeepingTest::recordsThePresentedSamples() {
    using Series = std::remove_pointer_t<decltype(temSeries)>;
    const QString path = folder.filePath(QStringLiteral("samples.csv"));
    chooseFile(path);
    QList<QPointF> temperatures;
    QList<QPointF> humidities;
    for (auto [series, points] : {std::pair{temSeries, &temperatures}, {humSeries, &humidities}})
        connect(series, &Series::pointAdded, this,
                [series = series, points = points](int i) { *points << series->at(i); });
    const auto presentedAtLeast = [&](int count) {
        return session->waitOrReport([&] { return temperatures.size() >= count; }, 10000,
                                     [&] {
                                         return QStringLiteral("%1 samples presented (%2 came)")
                                             .arg(count)
                                             .arg(temperatures.size());
                                     });
    };
    QAction *record = action("action_record_samples");
    const int first = session->logLineCount();

    record->trigger();
    // The first cycle loses its humidity read.
    for (const Fault fault : {Fault::None, Fault::None, Fault::NoReply})
        session->sensor().queueFault(FaultSpec::of(fault));
    session->click("connect_button_2");
    QVERIFY(presentedAtLeast(4));
    // Recording goes on across a stop and a start, in the same file.
    session->click("scan_button_2");
    session->click("connect_button_2");
    QVERIFY(presentedAtLeast(7));
    record->trigger();
    const int presented = temperatures.size();
    // Samples presented after that are not written.
    QVERIFY(presentedAtLeast(presented + 2));
    temSeries->disconnect(this);
    humSeries->disconnect(this);

    QVERIFY2(offeredInDocuments(suggested, "sensor-\\d{8}-\\d{6}\\.csv"), qPrintable(suggested));
    QCOMPARE(operatorLinesFrom(first),
             (QStringList{"开始记录数据：" + path, "开始采集...", "停止采集...", "开始采集...",
                          "停止记录数据：" + path}));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.endsWith("\r\n"));
    // Excel reads the Chinese header right only after a byte-order mark.
    QVERIFY2(bytes.startsWith("\xEF\xBB\xBF"), bytes.left(8).toHex().constData());
    const QStringList lines = QString::fromUtf8(bytes.mid(3).chopped(2)).split("\r\n");
    QCOMPARE(lines.value(0),
             QStringLiteral("时间,记录时长(s),温度(℃),湿度(RH%),烟雾(PPM),报警状态位,烟雾AD值"));
    QCOMPARE(lines.size() - 1, presented);
    const QRegularExpression seconds("^\\d+\\.\\d{3}$");
    QDateTime firstAt;
    int answered = 0;
    for (int i = 0; i < presented; ++i) {
        const QStringList cells = lines[i + 1].split(',');
        QCOMPARE(cells.size(), 7);
        const QDateTime at = QDateTime::fromString(cells[0], Qt::ISODateWithMs);
        QVERIFY2(at.isValid() && seconds.match(cells[1]).hasMatch(), qPrintable(lines[i + 1]));
        QVERIFY(qAbs(at.secsTo(QDateTime::currentDateTime())) < 60);
        firstAt = i == 0 ? at.addMSecs(-qRound64(cells[1].toDouble() * 1000)) : firstAt;
        // The second column is the real spacing of the samples.
        QVERIFY2(qAbs(firstAt.msecsTo(at) - cells[1].toDouble() * 1000) < 50,
                 qPrintable(lines[i + 1]));
        // The chart shows 0 for a failed read; the file leaves the cell empty. A loaded
        // machine may lose a read now and then beyond the one planted.
        QCOMPARE(cells[2], temperatures[i].y() == 0 ? "" : QStringLiteral("-5.00"));
        QCOMPARE(cells[3], humidities[i].y() == 0 ? "" : QStringLiteral("45.50"));
        QVERIFY(i > 0 || cells[3].isEmpty());
        for (const auto &[cell, value] :
             {std::pair{cells[4], "12"}, {cells[5], "1"}, {cells[6], "777"}})
            QVERIFY2(cell.isEmpty() || cell == value, qPrintable(lines[i + 1]));
        answered += !cells.contains(QString());
    }
    QVERIFY(answered > 0);
}

void KeepingTest::failingFileStopsRecordingOnly_data() {
    QTest::addColumn<QString>("path");  // in the test's folder unless absolute
    QTest::addColumn<bool>("removeFolderWhileRecording");
    QTest::addColumn<int>("reason");
    QTest::newRow("folder that does not exist") << "missing/samples.csv" << false << ENOENT;
    QTest::newRow("folder removed while recording") << "removed/samples.csv" << true << ENOENT;
    QTest::newRow("disk full") << "/dev/full" << false << ENOSPC;
}

void KeepingTest::failingFileStopsRecordingOnly() {
    QFETCH(QString, path);
    QFETCH(bool, removeFolderWhileRecording);
    QFETCH(int, reason);
    path = QDir(folder.path()).absoluteFilePath(path);
    const QString parent = QFileInfo(path).absolutePath();
    QVERIFY(!removeFolderWhileRecording || QDir().mkpath(parent));
    chooseFile(path);
    QAction *record = action("action_record_samples");
    const int first = session->logLineCount();
    session->click("connect_button_2");

    record->trigger();
    if (removeFolderWhileRecording) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile(path).size() > 100, 10000);  // the header and a line
        QVERIFY(QDir(parent).removeRecursively());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!record->isChecked(), 10000);

    // Acquisition goes on; the failure is told once.
    const int samples = temSeries->count();
    QVERIFY(session->waitForSamples(samples + 2));
    QStringList expected{
        QStringLiteral("记录数据失败，已停止记录：%1（%2）").arg(path, qt_error_string(reason))};
    if (removeFolderWhileRecording)
        expected.prepend("开始记录数据：" + path);
    QCOMPARE(operatorLinesFrom(first), QStringList{"开始采集..."} + expected);
    // Nothing was written elsewhere: the folder is not made again.
    QVERIFY(!path.startsWith(folder.path()) || !QFileInfo::exists(parent));
}

void KeepingTest::savedLogReadsBackAsShown() {
    const QString path = folder.filePath(QStringLiteral("log.txt"));
    chooseFile(path);
    const QString text = window().findChild<QTextEdit *>("textEdit")->toPlainText();
    QVERIFY(text.contains("串口打开成功！"));
    const int first = session->logLineCount();

    action("action_save_log")->trigger();

    QCOMPARE(session->logLinesFrom(first), QStringList{"日志已保存：" + path});
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), text);
}

QTEST_MAIN(KeepingTest)
#include "tst_e2e_keeping.moc"
