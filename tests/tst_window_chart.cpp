// The temperature and humidity chart as the window sets it up, before any acquisition:
// axes, theme, title, legend, curve pens, series wiring and the two read-outs over the chart.

#include <QLabel>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtTest>

#include "app/charts.h"
#include "app/mainwindow.h"
#include "sensor/sharedstate.h"

Q_DECLARE_METATYPE(QPalette::ColorGroup)

class ChartTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void chartIsTheViewsAndThemed();
    void axis_data();
    void axis();
    void series_data();
    void series();
    void readOutOverTheChartIsWhite_data();
    void readOutOverTheChartIsWhite();

private:
    QChart *chart() const { return window->findChild<QChartView *>("graphicsView")->chart(); }

    MainWindow *window = nullptr;
};

void ChartTest::initTestCase() {
    window = new MainWindow;
    QVERIFY(window->findChild<QChartView *>("graphicsView"));
    QVERIFY(temSeries && humSeries && timeAxis && valueAxis);
}

void ChartTest::cleanupTestCase() {
    QTest::ignoreMessage(QtDebugMsg, "ThreadFromQThread delete");
    QTest::ignoreMessage(QtDebugMsg, "time delete");
    delete window;
    window = nullptr;
}

void ChartTest::chartIsTheViewsAndThemed() {
    QChart *viewChart = chart();
    QVERIFY(viewChart);
    QCOMPARE(viewChart->theme(), QChart::ChartThemeBlueCerulean);
    QCOMPARE(viewChart->title(), QString::fromUtf8("温湿度曲线图"));
    QVERIFY(viewChart->legend()->isVisible());
    QCOMPARE(viewChart->legend()->alignment(), Qt::Alignment(Qt::AlignBottom));

    // Temperature first, then humidity; nothing else on the chart.
    const QList<QAbstractSeries *> expectedSeries{temSeries, humSeries};
    QCOMPARE(viewChart->series(), expectedSeries);
    QCOMPARE(viewChart->axes(Qt::Horizontal), QList<QAbstractAxis *>{timeAxis});
    QCOMPARE(viewChart->axes(Qt::Vertical), QList<QAbstractAxis *>{valueAxis});
}

void ChartTest::axis_data() {
    QTest::addColumn<QValueAxis *>("axis");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("tickCount");
    QTest::addColumn<QString>("title");
    QTest::addColumn<Qt::Alignment>("alignment");
    QTest::newRow("time") << timeAxis << 0.0 << 7.0 << 8 << QString::fromUtf8(" 时间(s)")
                          << Qt::Alignment(Qt::AlignBottom);
    QTest::newRow("value") << valueAxis << -40.0 << 140.0 << 10 << QString()
                           << Qt::Alignment(Qt::AlignLeft);
}

void ChartTest::axis() {
    QFETCH(QValueAxis *, axis);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(int, tickCount);
    QFETCH(QString, title);
    QFETCH(Qt::Alignment, alignment);
    QVERIFY(axis);
    QCOMPARE(axis->min(), minimum);
    QCOMPARE(axis->max(), maximum);
    QCOMPARE(axis->tickCount(), tickCount);
    QCOMPARE(axis->titleText(), title);
    QCOMPARE(axis->alignment(), alignment);
    QCOMPARE(axis->orientation(), alignment == Qt::AlignBottom ? Qt::Horizontal : Qt::Vertical);
}

void ChartTest::series_data() {
    QTest::addColumn<QLineSeries *>("series");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("temperature") << temSeries << QColor(Qt::yellow);
    QTest::newRow("humidity") << humSeries << QColor(Qt::white);
}

void ChartTest::series() {
    QFETCH(QLineSeries *, series);
    QFETCH(QColor, colour);
    QVERIFY(series);
    QCOMPARE(series->chart(), chart());

    // The pen the curve is drawn with: its colour, otherwise a default pen.
    const QPen pen = series->pen();
    QCOMPARE(pen.color(), colour);
    QCOMPARE(pen.style(), QPen().style());
    QCOMPARE(pen.widthF(), QPen().widthF());

    const QList<QAbstractAxis *> attached{timeAxis, valueAxis};
    QCOMPARE(series->attachedAxes(), attached);

    // Named and filled only once an acquisition starts.
    QCOMPARE(series->name(), QString());
    QCOMPARE(series->count(), 0);
}

void ChartTest::readOutOverTheChartIsWhite_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QPalette::ColorGroup>("group");
    for (const char *label : {"wind_speed_buffer", "wind_speed_buffer_2"}) {
        QTest::addRow("%s active", label) << label << QPalette::Active;
        QTest::addRow("%s inactive", label) << label << QPalette::Inactive;
        QTest::addRow("%s disabled", label) << label << QPalette::Disabled;
    }
}

void ChartTest::readOutOverTheChartIsWhite() {
    QFETCH(QString, label);
    QFETCH(QPalette::ColorGroup, group);
    auto *readOut = window->findChild<QLabel *>(label);
    QVERIFY(readOut);
    QCOMPARE(readOut->palette().color(group, QPalette::WindowText), QColor(Qt::white));
    // Only the text colour was set: the rest still follows the application.
    QCOMPARE(readOut->palette().color(group, QPalette::Window),
             QApplication::palette(readOut).color(group, QPalette::Window));
}

QTEST_MAIN(ChartTest)
#include "tst_window_chart.moc"
