#include "sensor/sharedstate.h"

SharedState sharedState;
std::uint32_t windowCapacity = 0;

Serial *serialPort = nullptr;
MyTimer *tickTimer = nullptr;
RtuMaster *rtuMaster = nullptr;
ThreadFromQThread *workerThread = nullptr;
SampleWindow *sampleWindow = nullptr;
QtCharts::QLineSeries *temSeries = nullptr;
QtCharts::QLineSeries *humSeries = nullptr;
QtCharts::QValueAxis *timeAxis = nullptr;
QtCharts::QValueAxis *valueAxis = nullptr;

SampleWindow *resetSampleWindow() {
    static SampleWindow storage;
    for (int i = 0; i < kSampleSlots; ++i) {
        storage.sampleTime[i] = 0;
        storage.sampleTem[i] = 0;
        storage.sampleHum[i] = 0;
    }
    storage.sampleCount = 0;
    storage.nextTimeS = 0;
    storage.periodMs = 0;
    storage.running = 0;
    storage.sampleReady.store(0);
    return &storage;
}
