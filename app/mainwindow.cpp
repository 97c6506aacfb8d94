#include "app/mainwindow.h"

#include <QPalette>
#include <QPen>
#include <QSerialPort>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "app/charts.h"
#include "app/connection.h"
#include "app/portlistwatcher.h"
#include "rtu/rtumaster.h"
#include "sensor/profilesession.h"
#include "sensor/samplerecorder.h"
#include "sensor/sharedstate.h"
#include "sensor/uart_thread.h"
#include "transport/mytimer.h"
#include "transport/serial.h"
#include "ui_mainwindow.h"

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new MainWindowForm) {
    serialPort = new Serial;
    tickTimer = new MyTimer;
    rtuMaster = new RtuMaster(*serialPort);
    workerThread = new ThreadFromQThread(this);
    sampleWindow = resetSampleWindow();

    humSeries = new QLineSeries;
    temSeries = new QLineSeries;
    timeAxis = new QValueAxis;
    valueAxis = new QValueAxis;

    connect(tickTimer, SIGNAL(handleTimeout()), this, SLOT(main_loop()));
    connect(tickTimer, SIGNAL(handleTimeout()), this, SLOT(update_port()));
    connect(serialPort->port, SIGNAL(readyRead()), serialPort, SLOT(readData()));

    // Watches for serial devices coming and going; the port list is read only then.
    portList = new PortListWatcher([] { return serialPort->availablePortNames(); }, this);

    ui->setupUi(this);
    connect(serialPort, &Serial::portReleased, this, [this] { reportReleasedPort(*ui); });

#ifdef SENSOR_WORKBENCH_BASIC
    // The reduced build: no smoke output slots, a smaller log pane, a wider entry column.
    ui->groupBox_5->setEnabled(false);
    ui->textEdit->setGeometry(QRect(10, 20, 331, 71));
    ui->layoutWidget6->setGeometry(QRect(90, 20, 161, 301));
#endif

    QPalette whiteText;
    whiteText.setColor(QPalette::WindowText, Qt::white);
    ui->wind_speed_buffer->setPalette(whiteText);
    ui->wind_speed_buffer_2->setPalette(whiteText);

    QChart *chart = ui->graphicsView->chart();
    chart->addSeries(temSeries);
    chart->addSeries(humSeries);
    chart->setTheme(QChart::ChartThemeBlueCerulean);
    chart->setTitle(tr("温湿度曲线图"));

    // After the theme: setting a theme repaints every series in the theme's own colours.
    temSeries->setPen(QPen(QColor(Qt::yellow)));
    humSeries->setPen(QPen(QColor(Qt::white)));

    timeAxis->setRange(0, 7);
    timeAxis->setTickCount(8);
    timeAxis->setTitleText(tr(" 时间(s)"));
    chart->addAxis(timeAxis, Qt::AlignBottom);
    temSeries->attachAxis(timeAxis);
    humSeries->attachAxis(timeAxis);

    valueAxis->setRange(-40, 140);
    valueAxis->setTickCount(10);
    chart->addAxis(valueAxis, Qt::AlignLeft);
    temSeries->attachAxis(valueAxis);
    humSeries->attachAxis(valueAxis);

    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignBottom);

    setUpKeepingActions();
    setUpProfileActions();
}

MainWindow::~MainWindow() {
    // Its dialog and its log lines belong to the form deleted below.
    profile.reset();
    // A worker in the middle of a transaction may be waiting for this thread to write its
    // frame, or sleeping through a reply wait: release both before waiting for it.
    serialPort->shutdownHandoff();
    rtuMaster->abortWaits();
    serialPort->closePort();

    delete ui;

    workerThread->wait();
    delete workerThread;
    workerThread = nullptr;
    delete serialPort;
    serialPort = nullptr;
    delete tickTimer;
    tickTimer = nullptr;
    delete rtuMaster;
    rtuMaster = nullptr;
}

void MainWindow::update_port() {
    const std::optional<QStringList> names = portList->namesIfChanged();
    if (!names)
        return;
    showPortNames(*ui, *names);
    serialPort->notePortList(*names);
}

void MainWindow::update_rs485_data() {}

void MainWindow::on_connect_button_clicked() {
    if (serialPort->isOpen) {
        beginClosing(*ui);
        on_scan_button_2_clicked();
        profile->portClosed();
        finishClosing(*serialPort);
    } else {
        openFromForm(*ui, *serialPort);
        serialPort->notePortList(portList->knownNames());
    }
}

void MainWindow::on_lineEdit_textEdited(const QString &) {}

void MainWindow::on_line_time_textChanged(const QString &) {}

void MainWindow::on_line_time_cursorPositionChanged(int, int) {}
