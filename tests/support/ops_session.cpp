#include "support/ops_session.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTest>
#include <QTextEdit>
#include <QtCharts/QLineSeries>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "sensor/sharedstate.h"
#include "transport/mytimer.h"
#include "transport/serial.h"

namespace {

constexpr int kTickMs = 100;

}  // namespace

OpsSession::OpsSession(const WindowFactory &makeWindow) {
    resetSharedState();
    if (!sim.openPty())
        return;
    sim.model().setLiveValuesMoving(false);
    windowPtr.reset(makeWindow());
    QObject::connect(tickTimer, &MyTimer::handleTimeout, windowPtr.get(), [this] { ++ticks; });
    sinceStart.start();
    QObject::connect(
        serialPort->port, &QSerialPort::errorOccurred, windowPtr.get(),
        [this](QSerialPort::SerialPortError error) {
            if (error != QSerialPort::ReadError && error != QSerialPort::WriteError &&
                error != QSerialPort::ResourceError)
                return;
            ++portErrors;
            const char *name =
                QMetaEnum::fromType<QSerialPort::SerialPortError>().valueToKey(error);
            lastPortErrors
                << QStringLiteral("%1@%2").arg(QLatin1String(name)).arg(sinceStart.elapsed());
            while (lastPortErrors.size() > 12)
                lastPortErrors.removeFirst();
        });
    QObject::connect(serialPort, &Serial::portReleased, windowPtr.get(), [this] {
        lastPortErrors << QStringLiteral("released@%1").arg(sinceStart.elapsed());
    });
    // The first tick rebuilds the port selector from the system's ports.
    valid = QTest::qWaitFor([this] { return ticks.load() >= 1; }, 5000);
}

OpsSession::~OpsSession() {
    windowPtr.reset();
    sim.stop();
}

QString OpsSession::text(const char *objectName) {
    if (auto *lineEdit = widget<QLineEdit>(objectName))
        return lineEdit->text();
    if (auto *other = widget<QWidget>(objectName))
        return other->property("text").toString();
    return QStringLiteral("<no widget %1>").arg(QLatin1String(objectName));
}

void OpsSession::setText(const char *lineEditName, const QString &text) {
    if (auto *lineEdit = widget<QLineEdit>(lineEditName))
        lineEdit->setText(text);
}

void OpsSession::click(const char *buttonName) {
    if (auto *button = widget<QAbstractButton>(buttonName))
        button->click();
}

void OpsSession::pressConnect(int baudRate) {
    auto *ports = widget<QComboBox>("com_port");
    auto *baudRates = widget<QComboBox>("baud_rate");
    ports->addItem(sim.portPath());
    ports->setCurrentIndex(ports->count() - 1);
    baudRates->setCurrentIndex(baudRates->findText(QString::number(baudRate)));
    click("connect_button");
}

bool OpsSession::openPort(int baudRate) {
    const int first = logLineCount();
    pressConnect(baudRate);
    return waitForLogLine(QStringLiteral("串口打开成功！"), first, 1000) >= 0;
}

bool OpsSession::openAndScan(int baudRate) {
    if (!openPort(baudRate)) {
        qWarning("openAndScan: no \"串口打开成功！\" within 1000 ms at %d baud; the log: %s",
                 baudRate, qPrintable(logLines().join(QLatin1String(" | "))));
        return false;
    }
    const int first = logLineCount();
    click("scan_button");
    const bool found = waitForLogLine(QStringLiteral("获取成功！"), first) >= 0;
    sim.clearExchanges();
    return found;
}

QString OpsSession::exchangeTimeline(Exchange::Clock::time_point since, int maxExchanges) const {
    const auto msAfter = [since](Exchange::Clock::time_point at) {
        return QString::number(std::chrono::duration<double, std::milli>(at - since).count(), 'f',
                               1);
    };
    QStringList parts;
    std::vector<Exchange> exchanges = sim.exchanges();
    exchanges.erase(
        std::remove_if(exchanges.begin(), exchanges.end(),
                       [since](const Exchange &exchange) { return exchange.receivedAt < since; }),
        exchanges.end());
    if (int(exchanges.size()) > maxExchanges) {
        parts << QStringLiteral("%1 earlier exchanges").arg(exchanges.size() - maxExchanges);
        exchanges.erase(exchanges.begin(), exchanges.end() - maxExchanges);
    }
    for (const Exchange &exchange : exchanges) {
        const auto sent = exchange.lastSentAt();
        parts << QStringLiteral("the sensor read %1 at +%2 ms and %3")
                     .arg(hexBytes(exchange.request), msAfter(exchange.receivedAt),
                          sent ? QStringLiteral("wrote %1 at +%2 ms")
                                     .arg(hexBytes(exchange.reply()), msAfter(*sent))
                               : QStringLiteral("wrote nothing"));
    }
    if (parts.isEmpty())
        parts << QStringLiteral("the sensor read no request since");
    parts << QStringLiteral("the window last read a byte at +%1 ms")
                 .arg(msAfter(serialPort->lastByteTime()));
    return parts.join(QLatin1String("; "));
}

qint64 OpsSession::destroyWindow() {
    QElapsedTimer timer;
    timer.start();
    windowPtr.reset();
    return timer.elapsed();
}

QTextEdit *OpsSession::log() const {
    return windowPtr->findChild<QTextEdit *>(QStringLiteral("textEdit"));
}

QStringList OpsSession::logLines() const {
    const QString all = log()->toPlainText();
    return all.isEmpty() ? QStringList() : all.split(QLatin1Char('\n'));
}

QStringList OpsSession::logLinesFrom(int firstLine) const {
    return logLines().mid(firstLine);
}

QString OpsSession::lastLogLines(int count) const {
    const QStringList all = logLines();
    return all.mid(std::max(0, int(all.size()) - count)).join(QLatin1String(" | "));
}

QString OpsSession::lineState() const {
    const bool released = logLines().contains(QStringLiteral("串口已断开，请关闭后重新打开"));
    return QStringLiteral(
               "the window's port %1%2 with %3 bytes not yet written, %4 read, write or "
               "resource errors since the session began (the last as error@ms: %5); now %6 ms; "
               "the sensor %7, %8 exchanges")
        .arg(serialPort->port->isOpen() ? QStringLiteral("open") : QStringLiteral("closed"))
        .arg(released ? QStringLiteral(" (released as hung up)") : QString())
        .arg(serialPort->port->bytesToWrite())
        .arg(portErrors)
        .arg(lastPortErrors.join(QLatin1Char(' ')))
        .arg(sinceStart.elapsed())
        .arg(sim.isRunning() ? QStringLiteral("running")
                             : QStringLiteral("stopped: ") + sim.failure())
        .arg(sim.exchanges().size());
}

bool OpsSession::waitUntil(const std::function<bool()> &done, int timeoutMs) const {
    QElapsedTimer elapsed;
    elapsed.start();
    // Wakes the loop below at least this often; every other event wakes it at once.
    QTimer wake;
    wake.start(5);
    // Nothing is taken after done() holds: the caller sees the state it tested.
    while (!done()) {
        if (elapsed.elapsed() >= timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

bool OpsSession::waitOrReport(const std::function<bool()> &done, int timeoutMs,
                              const std::function<QString()> &waitedFor) const {
    const auto waitBegan = Exchange::Clock::now();
    if (QTest::qWaitFor(done, timeoutMs))
        return true;
    qWarning().noquote() << QStringLiteral("waited %1 ms for %2 (reply wait %3 ms); %4")
                                .arg(timeoutMs)
                                .arg(waitedFor(), QString::number(serialPort->replyWaitMs.load()),
                                     whatCame(waitBegan));
    return false;
}

QString OpsSession::whatCame(Exchange::Clock::time_point waitBegan) const {
    return QStringLiteral("the log's last lines: %1; %2; since the wait began: %3")
        .arg(lastLogLines(12), lineState(), exchangeTimeline(waitBegan));
}

int OpsSession::waitForLogLine(const QString &line, int firstLine, int timeoutMs) const {
    int found = -1;
    (void)waitOrReport(
        [&] {
            found = logLines().indexOf(line, firstLine);
            return found >= 0;
        },
        timeoutMs,
        [&] { return QStringLiteral("\"%1\" at or after log line %2").arg(line).arg(firstLine); });
    return found;
}

bool OpsSession::waitForIdleWorker(int timeoutMs) const {
    return waitOrReport(
        [] {
            const std::uint32_t pending = sharedState.commandCode.load();
            return sharedState.workerPhase.load() == WorkerPhase::Finished &&
                   (pending == Idle || pending == 0);
        },
        timeoutMs,
        [] {
            return QStringLiteral("the worker idle with nothing pending (phase %1, command %2)")
                .arg(int(sharedState.workerPhase.load()))
                .arg(sharedState.commandCode.load());
        });
}

bool OpsSession::waitForSamples(int count, int timeoutMs) const {
    return waitOrReport([count] { return temSeries->count() >= count; }, timeoutMs,
                        [count] {
                            return QStringLiteral("%1 samples on the chart (%2 came)")
                                .arg(count)
                                .arg(temSeries->count());
                        });
}

void OpsSession::waitTicks(int count) const {
    const int until = ticks.load() + count;
    (void)QTest::qWaitFor([this, until] { return ticks.load() >= until; },
                          count * kTickMs * 10 + 1000);
}

namespace {

std::mutex debugLinesMutex;
QStringList debugLines;
QtMessageHandler previousHandler = nullptr;

void countingHandler(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (type == QtDebugMsg) {
        std::lock_guard<std::mutex> lock(debugLinesMutex);
        debugLines.append(message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

}  // namespace

DebugLineCounter::DebugLineCounter() {
    std::lock_guard<std::mutex> lock(debugLinesMutex);
    debugLines.clear();
    previousHandler = qInstallMessageHandler(countingHandler);
}

DebugLineCounter::~DebugLineCounter() {
    qInstallMessageHandler(previousHandler);
}

int DebugLineCounter::count(const QString &line) const {
    std::lock_guard<std::mutex> lock(debugLinesMutex);
    return int(debugLines.count(line));
}

bool offeredInDocuments(const QString &path, const QString &namePattern) {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QRegularExpression('^' + QRegularExpression::escape(documents) + '/' + namePattern + '$')
        .match(path)
        .hasMatch();
}

QStringList contextMenuEntries(QWidget &widget, const QPoint &at) {
    QStringList entries;
    QTimer::singleShot(0, [&entries] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        for (QAction *entry : menu ? menu->actions() : QList<QAction *>())
            entries << (entry->isSeparator() ? QString() : entry->objectName());
        if (menu)
            menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget.mapToGlobal(at));
    QApplication::sendEvent(&widget, &event);
    return entries;
}

BusyWindow::BusyWindow() {
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [this] {
        QElapsedTimer busy;
        busy.start();
        const int busyMs = std::uniform_int_distribution<int>(25, 40)(random);
        while (busy.elapsed() < busyMs) {
        }
        scheduleNext();
    });
    scheduleNext();
}

void BusyWindow::scheduleNext() {
    timer.start(std::uniform_int_distribution<int>(100, 500)(random));
}

void setDistinctCycleReadings(SensorModel &model) {
    model.setRegister(SensorModel::kRegSmokePpm, 12);
    model.setRegister(SensorModel::kRegTemperature, 0xFE0C);  // -5.00
    model.setRegister(SensorModel::kRegHumidity, 4550);
    model.setRegister(SensorModel::kRegAlarmStatus, 1);
    model.setRegister(SensorModel::kRegSmokeAd, 777);
}
