#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

#include "app/charts.h"
#include "app/mainwindow.h"
#include "sensor/samplerecorder.h"
#include "sensor/sharedstate.h"

class Serial;
class QThread;

// Each curve keeps this many of its newest points. The chart lays out and paints every point a
// series holds, so the cost of a sample grows with them, while the time axis only ever shows
// the sample window (at most 69 samples, and one before it).
constexpr int kMaxSeriesPoints = kSampleSlots;

// "01 03 AF " for the bytes 0x01 0x03 0xAF.
QString hexDump(const QByteArray &bytes);
// The log line for a result code; empty when the code has none.
QString resultMessage(std::uint8_t resultCode);
// A temperature or humidity register (signed hundredths in its low 16 bits) as shown.
QString hundredthsText(std::int32_t registerValue);

struct ChartParts {
    QLineSeries *temperature;
    QLineSeries *humidity;
    QValueAxis *timeAxis;
};

// A job the main loop has presented: the sample the chart took from it (nullptr when none) and
// its result code.
struct PresentedJob {
    const CycleSample *sample;
    std::uint8_t resultCode;
};

// One tick of the program, on the program-wide objects. `beforeRestart` is called once for each
// finished job, once it has been presented and before the worker is restarted: the values are
// still that job's, no transaction waits for its reply on this thread while the sample is
// written away, and a command posted there is the next run's.
void runMainLoop(MainWindowForm &ui,
                 const std::function<void(const PresentedJob &)> &beforeRestart = nullptr);

// Counters, frame dumps, live read-outs, the read-back field and the result line of the job
// the worker has finished; clears resultCode and returns what it was.
std::uint8_t presentFinishedJob(MainWindowForm &ui, Serial &serial, SharedState &state);
// Takes the ready sample into the window and the chart and clears sampleReady. With a
// capacity of 0 the window keeps nothing and no point is added.
void plotSample(MainWindowForm &ui, SampleWindow &samples, std::uint32_t capacity,
                const SharedState &state, const ChartParts &chart);
// Starts the worker's next run. Only after the last run has stored Finished, so the wait is
// for the thread's own exit and never for this thread.
void restartWorker(QThread &worker);
