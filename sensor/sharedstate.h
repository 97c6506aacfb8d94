#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "app/charts.h"

class Serial;
class MyTimer;
class RtuMaster;
class ThreadFromQThread;

// Request codes posted by the GUI thread and consumed by the worker.
enum CommandCode : std::uint32_t {
    ScanDevice = 1,
    ReadSerialNumber = 2,
    ReadTestAmount = 3,
    ReadBaudRate = 4,
    ReadCommunicationMode = 5,
    ReadProtocolType = 6,
    ReadUpdateTime = 7,
    ReadSmokeOffset = 8,
    ReadTemOffset = 9,
    ReadHumOffset = 10,
    ReadAdMax = 11,
    ReadAdMin = 12,
    ReadRangeMax = 13,
    ReadRangeMin = 14,
    ReadOutputChange = 15,
    ReadSmokeWarning = 16,
    ReadSmokeVMax = 17,
    ReadSmokeVMin = 18,
    ReadSmokeCMax = 19,
    ReadSmokeCMin = 20,
    AcquisitionCycle = 21,
    WriteDeviceAddress = 81,
    WriteSerialNumber = 82,
    WriteTestAmount = 83,
    WriteBaudRate = 84,
    WriteCommunicationMode = 85,
    WriteProtocolType = 86,
    WriteUpdateTime = 87,
    WriteSmokeOffset = 88,
    WriteTemOffset = 89,
    WriteHumOffset = 90,
    WriteAdMax = 91,
    WriteAdMin = 92,
    WriteRangeMax = 93,
    WriteRangeMin = 94,
    WriteOutputChange = 95,
    WriteSmokeWarning = 96,
    WriteSmokeVMax = 97,
    WriteSmokeVMin = 98,
    WriteSmokeCMax = 99,
    WriteSmokeCMin = 100,
    Idle = 119,
};

// Outcome codes left by the worker: the command's own code on success, 255 - code on failure.
namespace ResultCode {
constexpr std::uint8_t None = 0;
constexpr std::uint8_t ScanFailed = 254;
constexpr std::uint8_t BaudRateWriteFailed = 255;
constexpr std::uint8_t failureOf(std::uint32_t code) {
    return std::uint8_t(255 - code);
}
}  // namespace ResultCode

// What a presented result code says of a command: its success (true), its failure (false), or
// nothing (another job's result, or none).
std::optional<bool> outcomeFor(std::uint32_t command, std::uint8_t resultCode);

// Worker hand-off phases.
namespace WorkerPhase {
constexpr std::uint8_t HandedBack = 0;
constexpr std::uint8_t Running = 1;
constexpr std::uint8_t Finished = 2;
}  // namespace WorkerPhase

constexpr std::uint8_t kScanAddress = 250;

// The reads of an acquisition cycle, one bit each in SharedState::cycleReadsOk.
namespace CycleRead {
constexpr std::uint8_t Smoke = 1 << 0;
constexpr std::uint8_t Temperature = 1 << 1;
constexpr std::uint8_t Humidity = 1 << 2;
constexpr std::uint8_t AlarmStatus = 1 << 3;
constexpr std::uint8_t SmokeAd = 1 << 4;
}  // namespace CycleRead

// The one record through which the GUI thread and the worker exchange requests and results.
// Every field both threads touch is atomic; workerPhase orders the rest: the worker stores
// Finished with release as the last store of a run, the main loop loads it with acquire.
struct SharedState {
    std::atomic<std::uint8_t> workerPhase{WorkerPhase::Finished};
    std::atomic<std::uint32_t> commandCode{0};
    std::atomic<std::uint8_t> resultCode{0};
    std::atomic<std::uint32_t> acquisitionPeriodMs{1000};
    std::atomic<std::uint32_t> elapsedMs{0};
    std::atomic<std::int32_t> acquisitionOn{0};
    std::array<std::atomic<std::uint8_t>, 2> writeValue{};
    std::atomic<std::uint8_t> slaveAddress{0};

    std::atomic<std::int32_t> serialNumber{0};
    std::atomic<std::uint8_t> testAmount{0};
    std::atomic<std::uint8_t> baudRateCode{0};
    std::atomic<std::uint8_t> communicationMode{0};
    std::atomic<std::uint8_t> protocolType{0};
    std::atomic<std::int32_t> updateTime{0};
    std::atomic<std::int16_t> smokeOffset{0};
    std::atomic<std::int16_t> temOffset{0};
    std::atomic<std::int16_t> humOffset{0};
    std::atomic<std::uint16_t> adMax{0};
    std::atomic<std::uint16_t> adMin{0};
    std::atomic<std::uint16_t> rangeMax{0};
    std::atomic<std::uint16_t> rangeMin{0};
    std::atomic<std::uint16_t> outputChange{0};
    std::atomic<std::uint16_t> smokeWarning{0};
    std::atomic<std::uint16_t> smokeVMax{0};
    std::atomic<std::uint16_t> smokeVMin{0};
    std::atomic<std::uint16_t> smokeCMax{0};
    std::atomic<std::uint16_t> smokeCMin{0};
    std::atomic<std::int32_t> smokeValue{0};
    std::atomic<std::int32_t> temValue{0};
    std::atomic<std::int32_t> humValue{0};
    std::atomic<std::int32_t> alarmStatus{0};
    std::atomic<std::int32_t> smokeAdValue{0};
    // Which reads of the last acquisition cycle succeeded (CycleRead bits): a failed read
    // leaves its field at 0, which is also a value. Stored once per cycle, with the values.
    std::atomic<std::uint8_t> cycleReadsOk{0};

    // A write post stores the value and then the code; the worker takes both under this lock,
    // so a press that lands while the worker takes its command cannot pair one press's code
    // with another press's value.
    std::mutex postMutex;
};

// The pending command as the worker takes it: the code and the value a write sends.
struct TakenCommand {
    std::uint32_t code;
    std::array<std::uint8_t, 2> writeValue;
};

// GUI side: the last post wins the single slot.
void postCommand(SharedState &state, std::uint32_t code);
void postWrite(SharedState &state, std::uint32_t code, std::uint16_t value);
// GUI side: takes back a post the worker has not taken yet (and nothing else); true if it did.
bool withdrawCommand(SharedState &state, std::uint32_t code);
// Worker side: takes the pending code, leaving Idle, in one exchange.
TakenCommand takeCommand(SharedState &state);

constexpr int kSampleSlots = 100;

// The chart's most recent acquisition samples. Only sampleReady is shared with the worker;
// everything else belongs to the GUI thread.
struct SampleWindow {
    float sampleTime[kSampleSlots];
    float sampleTem[kSampleSlots];
    float sampleHum[kSampleSlots];
    std::uint32_t sampleCount;
    double nextTimeS;
    double periodMs;
    std::uint8_t running;
    std::atomic<std::uint8_t> sampleReady;
};

extern SharedState sharedState;
extern std::uint32_t windowCapacity;

// Program-wide references, filled by the main window's constructor.
extern Serial *serialPort;
extern MyTimer *tickTimer;
extern RtuMaster *rtuMaster;
extern ThreadFromQThread *workerThread;
extern SampleWindow *sampleWindow;
extern QLineSeries *temSeries;
extern QLineSeries *humSeries;
extern QValueAxis *timeAxis;
extern QValueAxis *valueAxis;

// The sample window lives to the end of the process; a new main window finds it zero-filled.
SampleWindow *resetSampleWindow();

// Puts the record, windowCapacity and the sample window back to their start-up values, for a
// process that builds several main windows one after another (tests). No worker may run.
void resetSharedState();
