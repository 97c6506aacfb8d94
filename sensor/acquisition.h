#pragma once

#include <QString>

#include <cstdint>

#include "app/mainwindow.h"

class Serial;

// The acquisition period typed into line_time, in milliseconds. Anything below 0.1 s, not a
// number, not finite or too long for 32 bits of milliseconds becomes 100 ms, corrected.
struct AcquisitionPeriod {
    std::uint32_t milliseconds;
    bool corrected;
};
AcquisitionPeriod acquisitionPeriodFromText(const QString &seconds);

// The time span the chart shows, in seconds.
constexpr double kChartSpanS = 7.0;

// How many samples the chart keeps for a period: about 7 s of them, 0 above 3.5 s.
std::uint32_t windowCapacityFor(std::uint32_t periodMs);

// The scan button: asks the worker to find the sensor at the scan address.
void requestScan(MainWindowForm &ui, const Serial &serial);
// The start button: takes over the typed period and, with the port open, (re)starts the
// acquisition and the chart window from time 0.
void startAcquisition(MainWindowForm &ui, const Serial &serial);
// The stop button, and closing the port: stops and empties the chart.
void stopAcquisition(MainWindowForm &ui);
