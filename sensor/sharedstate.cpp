#include "sensor/sharedstate.h"

SharedState sharedState;
std::uint32_t windowCapacity = 0;

Serial *serialPort = nullptr;
MyTimer *tickTimer = nullptr;
RtuMaster *rtuMaster = nullptr;
ThreadFromQThread *workerThread = nullptr;
SampleWindow *sampleWindow = nullptr;
QLineSeries *temSeries = nullptr;
QLineSeries *humSeries = nullptr;
QValueAxis *timeAxis = nullptr;
QValueAxis *valueAxis = nullptr;

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

void postCommand(SharedState &state, std::uint32_t code) {
    std::lock_guard<std::mutex> lock(state.postMutex);
    state.commandCode.store(code);
}

void postWrite(SharedState &state, std::uint32_t code, std::uint16_t value) {
    std::lock_guard<std::mutex> lock(state.postMutex);
    state.writeValue[0].store(std::uint8_t(value >> 8));
    state.writeValue[1].store(std::uint8_t(value & 0xFF));
    state.commandCode.store(code);
}

bool withdrawCommand(SharedState &state, std::uint32_t code) {
    std::lock_guard<std::mutex> lock(state.postMutex);
    std::uint32_t expected = code;
    return state.commandCode.compare_exchange_strong(expected, Idle);
}

TakenCommand takeCommand(SharedState &state) {
    std::lock_guard<std::mutex> lock(state.postMutex);
    TakenCommand taken;
    taken.code = state.commandCode.exchange(Idle);
    taken.writeValue = {state.writeValue[0].load(), state.writeValue[1].load()};
    return taken;
}

std::optional<bool> outcomeFor(std::uint32_t command, std::uint8_t resultCode) {
    if (command == 0 || command > WriteSmokeCMin || command == AcquisitionCycle)
        return std::nullopt;
    if (resultCode == command)
        return true;
    const std::uint8_t failure = command == ScanDevice      ? ResultCode::ScanFailed
                                 : command == WriteBaudRate ? ResultCode::BaudRateWriteFailed
                                                            : ResultCode::failureOf(command);
    if (resultCode == failure)
        return false;
    return std::nullopt;
}

void resetSharedState() {
    SharedState &s = sharedState;
    s.workerPhase.store(WorkerPhase::Finished);
    s.commandCode.store(0);
    s.resultCode.store(ResultCode::None);
    s.acquisitionPeriodMs.store(1000);
    s.elapsedMs.store(0);
    s.acquisitionOn.store(0);
    s.writeValue[0].store(0);
    s.writeValue[1].store(0);
    s.slaveAddress.store(0);
    s.serialNumber.store(0);
    s.testAmount.store(0);
    s.baudRateCode.store(0);
    s.communicationMode.store(0);
    s.protocolType.store(0);
    s.updateTime.store(0);
    s.smokeOffset.store(0);
    s.temOffset.store(0);
    s.humOffset.store(0);
    s.adMax.store(0);
    s.adMin.store(0);
    s.rangeMax.store(0);
    s.rangeMin.store(0);
    s.outputChange.store(0);
    s.smokeWarning.store(0);
    s.smokeVMax.store(0);
    s.smokeVMin.store(0);
    s.smokeCMax.store(0);
    s.smokeCMin.store(0);
    s.smokeValue.store(0);
    s.temValue.store(0);
    s.humValue.store(0);
    s.alarmStatus.store(0);
    s.smokeAdValue.store(0);
    s.cycleReadsOk.store(0);
    windowCapacity = 0;
    resetSampleWindow();
}
