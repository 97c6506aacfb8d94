#include "sensor/mainloop.h"

#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>
#include <QThread>
#include <QVector>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>

#include "sensor/acquisition.h"
#include "sensor/registermap.h"
#include "sensor/sharedstate.h"
#include "sensor/uart_thread.h"
#include "sensor/uitext.h"
#include "transport/serial.h"
#include "ui_mainwindow.h"

namespace {

constexpr std::uint32_t kTickMs = 100;

double hundredthsValue(std::int32_t registerValue) {
    return std::int16_t(registerValue & 0xFFFF) / 100.0;
}

QString unsignedText(std::int32_t value) {
    return QString::number(std::uint32_t(value));
}

void logFrames(MainWindowForm &ui, Serial &serial) {
    const QByteArray sent = serial.takeLastSent();
    const QByteArray received = serial.takeLastReceived();
    serial.txByteCount.fetch_add(std::uint32_t(sent.size()));
    serial.rxByteCount.fetch_add(std::uint32_t(received.size()));
    ui.lable_send_counter->setText(QString::number(serial.txByteCount.load()));
    ui.lable_receive_counter_2->setText(QString::number(serial.rxByteCount.load()));
    if (sent.isEmpty() && received.isEmpty())
        return;
    ui.textEdit->append(QStringLiteral("Send: ") + hexDump(sent));
    ui.textEdit->append(QStringLiteral("Receive: ") + hexDump(received));
}

void showLiveValues(MainWindowForm &ui, const SharedState &state) {
    ui.alarm_status->setText(unsignedText(state.alarmStatus.load()));
    ui.device_address->setText(QString::number(state.slaveAddress.load()));
    ui.smoke_vallue->setText(unsignedText(state.smokeValue.load()) + uiText(" PPM"));
    ui.smoke_ad_value->setText(unsignedText(state.smokeAdValue.load()));
    ui.tem_value->setText(hundredthsText(state.temValue.load()) + uiText(" ℃"));
    ui.hum_vallue->setText(hundredthsText(state.humValue.load()) + uiText(" RH%"));
}

void showReadBack(MainWindowForm &ui, const SharedState &state, std::uint8_t resultCode) {
    const RegisterEntry *entry = entryForReadCode(resultCode);
    if (entry == nullptr || entry->lineEdit == nullptr)
        return;
    if (auto *field = ui.centralwidget->findChild<QLineEdit *>(QLatin1String(entry->lineEdit)))
        field->setText(QString::number(entry->field.load(state)));
}

void appendBounded(QLineSeries *series, const QPointF &point) {
    if (series->count() < kMaxSeriesPoints) {
        series->append(point);
        return;
    }
    // One replace instead of a removal and an append: the series lays itself out once.
    QVector<QPointF> points;
    points.reserve(kMaxSeriesPoints);
    for (int i = series->count() - (kMaxSeriesPoints - 1); i < series->count(); ++i)
        points.append(series->at(i));
    points.append(point);
    series->replace(points);
}

}  // namespace

QString hexDump(const QByteArray &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(bytes.size() * 3);
    for (const char byte : bytes) {
        const auto value = std::uint8_t(byte);
        text.append(QLatin1Char(digits[value >> 4]));
        text.append(QLatin1Char(digits[value & 0x0F]));
        text.append(QLatin1Char(' '));
    }
    return text;
}

QString resultMessage(std::uint8_t resultCode) {
    if (resultCode == ScanDevice)
        return uiText("获取成功！");
    if (resultCode >= 2 && resultCode <= 21)
        return uiText("读取成功！");
    if (resultCode >= 81 && resultCode <= 100)
        return uiText("写入成功！");
    if (resultCode == ResultCode::ScanFailed)
        return uiText("获取失败！");
    if (resultCode >= 234 && resultCode <= 253)
        return uiText("读取失败！");
    if (resultCode >= 155 && resultCode <= 174)
        return uiText("写入失败！");
    if (resultCode == ResultCode::BaudRateWriteFailed)
        return uiText("请改变波特率，然后重新打开串口！");
    return QString();
}

QString hundredthsText(std::int32_t registerValue) {
    return QString::number(hundredthsValue(registerValue), 'g', 6);
}

std::uint8_t presentFinishedJob(MainWindowForm &ui, Serial &serial, SharedState &state) {
    logFrames(ui, serial);
    showLiveValues(ui, state);
    const std::uint8_t resultCode = state.resultCode.load();
    showReadBack(ui, state, resultCode);
    const QString message = resultMessage(resultCode);
    if (!message.isEmpty())
        ui.textEdit->append(message);
    state.resultCode.store(ResultCode::None);
    return resultCode;
}

void plotSample(MainWindowForm &ui, SampleWindow &samples, std::uint32_t capacity,
                const SharedState &state, const ChartParts &chart) {
    const std::int32_t temperatureRegister = state.temValue.load();
    const std::int32_t humidityRegister = state.humValue.load();
    const auto time = float(samples.nextTimeS);
    const auto temperature = float(hundredthsValue(temperatureRegister));
    const auto humidity = float(hundredthsValue(humidityRegister));
    samples.nextTimeS += samples.periodMs / 1000.0;

    // The arrays hold kSampleSlots entries; the window also needs the slot past its end.
    capacity = std::min<std::uint32_t>(capacity, kSampleSlots - 1);
    if (capacity > 0) {
        if (samples.sampleCount < capacity) {
            const std::uint32_t slot = samples.sampleCount++;
            samples.sampleTime[slot] = time;
            samples.sampleTem[slot] = temperature;
            samples.sampleHum[slot] = humidity;
        } else {
            samples.sampleTime[capacity] = time;
            samples.sampleTem[capacity] = temperature;
            samples.sampleHum[capacity] = humidity;
            std::copy(samples.sampleTime + 1, samples.sampleTime + capacity + 1,
                      samples.sampleTime);
            std::copy(samples.sampleTem + 1, samples.sampleTem + capacity + 1, samples.sampleTem);
            std::copy(samples.sampleHum + 1, samples.sampleHum + capacity + 1, samples.sampleHum);
        }
        const std::uint32_t newest = samples.sampleCount - 1;
        appendBounded(chart.temperature,
                      QPointF(samples.sampleTime[newest], samples.sampleTem[newest]));
        appendBounded(chart.humidity,
                      QPointF(samples.sampleTime[newest], samples.sampleHum[newest]));
        if (samples.sampleCount < capacity)
            chart.timeAxis->setRange(0, kChartSpanS);
        else if (samples.sampleTime[0] < samples.sampleTime[newest])
            chart.timeAxis->setRange(samples.sampleTime[0], samples.sampleTime[newest]);
        else  // a window of one sample: an empty range would show nothing
            chart.timeAxis->setRange(samples.sampleTime[newest] - kChartSpanS,
                                     samples.sampleTime[newest]);
    }

    ui.wind_speed_buffer->setText(uiText("温度:") + hundredthsText(temperatureRegister) +
                                  uiText(" ℃"));
    ui.wind_speed_buffer_2->setText(uiText("湿度:") + hundredthsText(humidityRegister) +
                                    uiText(" RH%"));
    samples.sampleReady.store(0);
}

void restartWorker(QThread &worker) {
    // QThread::start() is ignored while the thread is still returning from run().
    worker.wait();
    worker.start(QThread::InheritPriority);
}

void runMainLoop(MainWindowForm &ui,
                 const std::function<void(const PresentedJob &)> &beforeRestart) {
    sharedState.elapsedMs.fetch_add(kTickMs);
    if (sharedState.workerPhase.load(std::memory_order_acquire) != WorkerPhase::Finished)
        return;
    sharedState.workerPhase.store(WorkerPhase::HandedBack);

    const std::uint8_t resultCode = presentFinishedJob(ui, *serialPort, sharedState);
    // Before the restart: the next run may rewrite the values a sample is made of.
    bool plotted = false;
    if (sampleWindow->sampleReady.load() != 0) {
        if (sampleWindow->running != 0) {
            plotSample(ui, *sampleWindow, windowCapacity, sharedState,
                       ChartParts{temSeries, humSeries, timeAxis});
            plotted = true;
        } else {  // from a cycle that ended after a stop: a later start must not plot it
            sampleWindow->sampleReady.store(0);
        }
    }
    if (beforeRestart && plotted) {
        const CycleSample sample = cycleSampleFrom(sharedState);
        beforeRestart({&sample, resultCode});
    } else if (beforeRestart) {
        beforeRestart({nullptr, resultCode});
    }
    restartWorker(*workerThread);
}
