#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

#include "support/sessionbaudrate.h"

class QWidget;

// A long acquisition at the 0.1 s period against a simulated sensor that misbehaves in a share
// of its replies (silence, bad CRC, split and late replies, stray bytes, exceptions, wrong
// echoes, frames of its own), with register reads and writes posted through the buttons in
// between. It counts what must never happen and measures the rest.
struct SoakOptions {
    int seconds = 30;
    int baudRate = kSessionBaudRate;
    double faultShare = 0.2;
    std::uint32_t seed = 1;
};

struct SoakReport {
    bool completed = false;  // the window kept ticking and every wait ended in time
    int exchanges = 0;       // requests the sensor saw
    int faultedExchanges = 0;
    int cycles = 0;
    int readsPosted = 0;
    int writesPosted = 0;
    int readsSucceeded = 0;
    int writesSucceeded = 0;

    // Each of these must stay 0.
    int successForCorruptedReply = 0;  // a success shown for a reply the sensor corrupted
    int valuesUnderWrongRegister = 0;  // a value shown that is not its register's
    int postsNotPresentedOnce = 0;     // a press whose result line came never, or twice
    QStringList problems;              // the first few of the above, described

    // Spacing of cycle starts where no fault and no press touched the cycle, against the
    // design's schedule.
    std::vector<double> cleanCycleGapsMs;
    double scheduleMs = 0;

    long rssStartKb = 0;
    long rssEndKb = 0;
    int logLinesStart = 0;
    int logLinesEnd = 0;
};

using WindowMaker = std::function<QWidget *()>;

SoakReport runFaultSoak(const SoakOptions &options, const WindowMaker &makeWindow);

// Rough events during acquisition, each repeated: after each the program must not hang and
// the port must work again after a reopen.
enum class RoughEvent {
    SensorHangsUp,         // the sensor's end of the line goes away mid-run
    PortReopenedMidCycle,  // the operator closes and reopens the port during a cycle
    WindowClosedMidCycle,  // the operator closes the window during a cycle
};

struct RoughReport {
    int attempted = 0;
    int survived = 0;
    QStringList failures;
    std::vector<double> recoveryMs;  // from the event to the port working again
};

RoughReport runRoughEvents(RoughEvent event, int repeats, const WindowMaker &makeWindow);

// Resident memory of this process, in KiB.
long residentKb();
