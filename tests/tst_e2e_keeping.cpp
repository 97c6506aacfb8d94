// Keeping what was measured, through the window's context menus against the simulated sensor:
// samples recorded to a CSV file, a file that fails while acquisition goes on, the log and the
// chart saved.
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QImage>
#include <QMenu>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtTest>

#include <cerrno>
#include <memory>

#include "app/mainwindow.h"
#include "sensor/sharedstate.h"
#include "support/ops_session.h"

namespace {

QWidget *newWindow() {
    return new MainWindow;
}

const QString kHeader =
    QStringLiteral("时间,记录时长(s),温度(℃),湿度(RH%),烟雾(PPM),报警状态位,烟雾AD值");
const QString kRecordingFailed = QStringLiteral("记录数据失败，已停止记录：%1（%2）");

bool isFrameLine(const QString &line) {
    return line.startsWith(QStringLiteral("Send: ")) ||
           line.startsWith(QStringLiteral("Receive: "));
}

}  // namespace

class KeepingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void contextMenusOfferTheActions_data();
    void contextMenusOfferTheActions();
    void recordsThePresentedSamples();
    void failingFileStopsRecordingOnly_data();
    void failingFileStopsRecordingOnly();
    void savedFileHoldsWhatIsShown_data();
    void savedFileHoldsWhatIsShown();

private:
    MainWindow &window() { return static_cast<MainWindow &>(session->window()); }
    QAction *action(const QString &name) { return window().findChild<QAction *>(name); }
    void chooseFile(const QString &path);
    QStringList operatorLinesFrom(int first) const;

    std::unique_ptr<OpsSession> session;
    QTemporaryDir folder;
    QString suggested;
};

void KeepingTest::initTestCase() {
    QVERIFY(folder.isValid());
    session = std::make_unique<OpsSession>(newWindow);
    QVERIFY(session->isValid());
    QVERIFY(session->openAndScan());
    SensorModel &model = session->sensor().model();
    model.setRegister(SensorModel::kRegSmokePpm, 12);
    model.setRegister(SensorModel::kRegTemperature, 0xFE0C);  // -5.00 °C
    model.setRegister(SensorModel::kRegHumidity, 4550);
    model.setRegister(SensorModel::kRegAlarmStatus, 1);
    model.setRegister(SensorModel::kRegSmokeAd, 777);
    for (const char *name : {"action_save_chart", "action_record_samples", "action_save_log"})
        QVERIFY2(action(QLatin1String(name)), name);
}

void KeepingTest::init() {
    session->click("scan_button_2");
    QVERIFY(session->waitForIdleWorker());
    session->sensor().clearFaultQueue();
    session->setText("line_time", QStringLiteral("0.1"));
}

void KeepingTest::cleanupTestCase() {
    session.reset();
}

void KeepingTest::chooseFile(const QString &path) {
    window().setSaveFileChooser(
        [this, path](const QString &, const QString &offered, const QString &) {
            suggested = offered;
            return path;
        });
}

QStringList KeepingTest::operatorLinesFrom(int first) const {
    QStringList lines;
    for (const QString &line : session->logLinesFrom(first))
        if (!isFrameLine(line))
            lines << line;
    return lines;
}

void KeepingTest::contextMenusOfferTheActions_data() {
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("chart") << "graphicsView"
                           << QStringList{"action_save_chart", "action_record_samples"};
    // After the pane's own entries.
    QTest::newRow("log") << "textEdit" << QStringList{"", "action_save_log"};
}

void KeepingTest::contextMenusOfferTheActions() {
    QFETCH(QString, widget);
    QFETCH(QStringList, entries);
    auto *area = window().findChild<QAbstractScrollArea *>(widget);
    QVERIFY(area);
    window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&window()));

    QStringList shown;
    QTimer::singleShot(0, this, [&] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            for (QAction *entry : menu->actions())
                shown << (entry->isSeparator() ? QString() : entry->objectName());
            menu->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20),
                            area->viewport()->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(area->viewport(), &event);
    window().hide();

    QVERIFY(shown.size() >= entries.size());
    QCOMPARE(shown.mid(shown.size() - entries.size()), entries);
}

void KeepingTest::recordsThePresentedSamples() {
    using QtCharts::QLineSeries;
    const QString path = folder.filePath(QStringLiteral("samples.csv"));
    chooseFile(path);
    QList<QPointF> temperatures;
    QList<QPointF> humidities;
    const auto watch = [this](QLineSeries *series, QList<QPointF> &points) {
        return connect(series, &QLineSeries::pointAdded, this,
                       [series, &points](int index) { points << series->at(index); });
    };
    const QMetaObject::Connection watching[] = {watch(temSeries, temperatures),
                                                watch(humSeries, humidities)};
    QAction *record = action(QStringLiteral("action_record_samples"));
    const int first = session->logLineCount();
    const QDateTime began = QDateTime::currentDateTime();

    record->trigger();
    QVERIFY(record->isChecked());
    // The first cycle loses its humidity read.
    for (const Fault fault : {Fault::None, Fault::None, Fault::NoReply})
        session->sensor().queueFault(FaultSpec::of(fault));
    session->click("connect_button_2");
    QTRY_VERIFY_WITH_TIMEOUT(temperatures.size() >= 4, 10000);
    // Recording goes on across a stop and a start, in the same file.
    session->click("scan_button_2");
    session->click("connect_button_2");
    QTRY_VERIFY_WITH_TIMEOUT(temperatures.size() >= 7, 10000);
    record->trigger();
    const int presented = temperatures.size();
    const QDateTime ended = QDateTime::currentDateTime();
    QVERIFY(!record->isChecked());
    // Samples presented after that are not written.
    QTRY_VERIFY_WITH_TIMEOUT(temperatures.size() >= presented + 2, 10000);
    session->click("scan_button_2");
    for (const QMetaObject::Connection &connection : watching)
        disconnect(connection);

    QVERIFY(
        suggested.startsWith(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
    QVERIFY2(QRegularExpression(QStringLiteral("/sensor-\\d{8}-\\d{6}\\.csv$"))
                 .match(suggested)
                 .hasMatch(),
             qPrintable(suggested));
    QCOMPARE(operatorLinesFrom(first),
             (QStringList{QStringLiteral("开始记录数据：") + path, QStringLiteral("开始采集..."),
                          QStringLiteral("停止采集..."), QStringLiteral("开始采集..."),
                          QStringLiteral("停止记录数据：") + path, QStringLiteral("停止采集...")}));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.endsWith("\r\n"));
    const QStringList lines = QString::fromUtf8(bytes.chopped(2)).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.value(0), kHeader);
    QCOMPARE(lines.size() - 1, presented);

    const QRegularExpression seconds(QStringLiteral("^\\d+\\.\\d{3}$"));
    QDateTime firstAt;
    double firstElapsed = 0;
    double lastElapsed = 0;
    for (int i = 0; i < presented; ++i) {
        const QStringList cells = lines[i + 1].split(QLatin1Char(','));
        QCOMPARE(cells.size(), 7);
        const QDateTime at = QDateTime::fromString(cells[0], Qt::ISODateWithMs);
        QVERIFY2(at.isValid() && at.time().msec() == cells[0].mid(20, 3).toInt(),
                 qPrintable(cells[0]));
        QVERIFY(at >= began.addSecs(-1) && at <= ended.addSecs(1));
        QVERIFY2(seconds.match(cells[1]).hasMatch(), qPrintable(cells[1]));
        const double elapsed = cells[1].toDouble();
        QVERIFY(elapsed >= lastElapsed);
        lastElapsed = elapsed;
        if (i == 0) {
            firstAt = at;
            firstElapsed = elapsed;
        }
        // The second column is the real spacing of the samples, in seconds.
        QVERIFY2(qAbs(firstAt.msecsTo(at) / 1000.0 - (elapsed - firstElapsed)) < 0.05,
                 qPrintable(lines[i + 1]));

        // The chart shows 0 for the failed read; the file leaves the cell empty.
        QCOMPARE(temperatures[i].y(), -5.0);
        QCOMPARE(cells[2], QStringLiteral("-5.00"));
        QCOMPARE(humidities[i].y(), i == 0 ? 0.0 : 45.5);
        QCOMPARE(cells[3], i == 0 ? QString() : QStringLiteral("45.50"));
        QCOMPARE(cells.mid(4), (QStringList{"12", "1", "777"}));
    }
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
    if (removeFolderWhileRecording)
        QVERIFY(QDir().mkpath(parent));
    chooseFile(path);
    QAction *record = action(QStringLiteral("action_record_samples"));
    session->click("connect_button_2");
    QTRY_VERIFY_WITH_TIMEOUT(temSeries->count() >= 1, 10000);
    const int first = session->logLineCount();

    record->trigger();
    if (removeFolderWhileRecording) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile(path).size() > kHeader.toUtf8().size() + 2, 10000);
        QVERIFY(QDir(parent).removeRecursively());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!record->isChecked(), 10000);

    // Acquisition goes on; the failure is told once.
    const int samples = temSeries->count();
    QTRY_VERIFY_WITH_TIMEOUT(temSeries->count() >= samples + 2, 10000);
    QCOMPARE(sharedState.acquisitionOn.load(), 1);
    QStringList expected{kRecordingFailed.arg(path, qt_error_string(reason))};
    if (removeFolderWhileRecording)
        expected.prepend(QStringLiteral("开始记录数据：") + path);
    QCOMPARE(operatorLinesFrom(first), expected);
    // Nothing was written elsewhere: the folder is not made again.
    if (path.startsWith(folder.path()))
        QVERIFY(!QFileInfo::exists(parent));
}

void KeepingTest::savedFileHoldsWhatIsShown_data() {
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("line");  // %1: the file
    QTest::newRow("log") << "action_save_log"
                         << "log.txt"
                         << "日志已保存：%1";
    QTest::newRow("chart") << "action_save_chart"
                           << "chart.png"
                           << "曲线图片已保存：%1";
    QTest::newRow("log into a missing folder")
        << "action_save_log"
        << "missing/log.txt"
        << QStringLiteral("日志保存失败：%1（") + qt_error_string(ENOENT) + QStringLiteral("）");
}

void KeepingTest::savedFileHoldsWhatIsShown() {
    QFETCH(QString, actionName);
    QFETCH(QString, fileName);
    QFETCH(QString, line);
    const QString path = folder.filePath(fileName);
    chooseFile(path);
    auto *log = window().findChild<QTextEdit *>(QStringLiteral("textEdit"));
    auto *chart = window().findChild<QtCharts::QChartView *>(QStringLiteral("graphicsView"));
    const QString text = log->toPlainText();
    const QImage picture = chart->grab().toImage();
    QVERIFY(text.contains(QStringLiteral("串口打开成功！")));
    const int first = session->logLineCount();

    action(actionName)->trigger();

    QCOMPARE(session->logLinesFrom(first), QStringList{line.arg(path)});
    if (!line.contains(QStringLiteral("失败"))) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        if (fileName.endsWith(QLatin1String(".txt")))
            QCOMPARE(QString::fromUtf8(file.readAll()), text);
        else
            QCOMPARE(QImage::fromData(file.readAll(), "PNG").convertToFormat(picture.format()),
                     picture);
    } else {
        QVERIFY(!QFileInfo::exists(QFileInfo(path).absolutePath()));
    }
}

QTEST_MAIN(KeepingTest)
#include "tst_e2e_keeping.moc"
