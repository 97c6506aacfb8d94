#include "sensor/acquisition.h"

#include <QLineEdit>
#include <QTextEdit>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <cmath>
#include <limits>

#include "sensor/sharedstate.h"
#include "sensor/uitext.h"
#include "transport/serial.h"
#include "ui_mainwindow.h"

namespace {

constexpr std::uint32_t kShortestPeriodMs = 100;

}  // namespace

AcquisitionPeriod acquisitionPeriodFromText(const QString &seconds) {
    // toDouble takes the point only, whatever the locale; a text that is no number gives 0.
    const double value = seconds.toDouble();
    const double milliseconds = value * 1000.0;
    const bool usable = std::isfinite(value) && value >= 0.1 &&
                        milliseconds < double(std::numeric_limits<std::uint32_t>::max()) + 1.0;
    if (!usable)
        return {kShortestPeriodMs, true};
    return {std::uint32_t(milliseconds), false};
}

std::uint32_t windowCapacityFor(std::uint32_t periodMs) {
    if (periodMs == 0)
        return 0;
    const double capacity = std::trunc(kChartSpanS / (periodMs / 1000.0) - 1.0);
    return capacity > 0 ? std::uint32_t(capacity) : 0;
}

void requestScan(MainWindowForm &ui, const Serial &serial) {
    if (!serial.isOpen.load()) {
        ui.textEdit->append(uiText("请先打开串口！"));
        return;
    }
    ui.textEdit->append(uiText("开始扫描传感器..."));
    postCommand(sharedState, ScanDevice);
}

void startAcquisition(MainWindowForm &ui, const Serial &serial) {
    if (serial.isOpen.load()) {
        sharedState.acquisitionOn.store(1);
        ui.textEdit->append(uiText("开始采集..."));
    } else {
        ui.textEdit->append(uiText("请先打开串口！"));
    }

    const AcquisitionPeriod period = acquisitionPeriodFromText(ui.line_time->text());
    sharedState.acquisitionPeriodMs.store(period.milliseconds);
    if (period.corrected) {
        ui.textEdit->append(uiText("采集周期最大为0.1s,自动设为0.1s"));
        ui.line_time->setText(QStringLiteral("0.1"));
    }

    if (sharedState.acquisitionOn.load() != 1)
        return;
    sampleWindow->running = 1;
    sampleWindow->sampleCount = 0;
    sampleWindow->periodMs = period.milliseconds;
    sampleWindow->nextTimeS = 0;
    windowCapacity = windowCapacityFor(period.milliseconds);
    temSeries->setName(uiText("温度"));
    humSeries->setName(uiText("湿度"));
    timeAxis->setRange(0, kChartSpanS);
    timeAxis->setTickCount(8);
    timeAxis->setTitleText(uiText(" 时间(s)"));
    valueAxis->setRange(-40, 140);
    valueAxis->setTickCount(10);
}

void stopAcquisition(MainWindowForm &ui) {
    sharedState.acquisitionOn.store(0);
    sampleWindow->running = 0;
    sampleWindow->sampleReady.store(0);
    timeAxis->setRange(0, kChartSpanS);
    temSeries->clear();
    humSeries->clear();
    ui.textEdit->append(uiText("停止采集..."));
}
