#include "sensor/uart_thread.h"

#include <QDebug>

#include "rtu/rtumaster.h"
#include "sensor/registermap.h"
#include "sensor/sharedstate.h"
#include "transport/serial.h"

namespace {

// Room for the largest byte count a reply can announce.
constexpr int kReadBufferSize = 256;

RegisterRead readOneRegister(RtuMaster &master, int slave, int reg) {
    std::uint8_t data[kReadBufferSize] = {};
    std::uint8_t byteCount = 0;
    const int result = master.readRegisters(slave, reg, 1, data, &byteCount);
    return registerFromReply(result, data, byteCount);
}

void scanForSensor(SharedState &state, RtuMaster &master) {
    const RegisterRead read = readOneRegister(master, kScanAddress, kScanRegister);
    if (read.ok) {
        state.slaveAddress.store(master.replyAddress());
        state.serialNumber.store(decodeRegister(RegisterFormat::Unsigned, read.high, read.low));
        state.resultCode.store(ScanDevice);
    } else {
        state.slaveAddress.store(0);
        state.serialNumber.store(0);
        state.resultCode.store(ResultCode::ScanFailed);
    }
}

void readEntry(SharedState &state, RtuMaster &master, const RegisterEntry &entry) {
    const RegisterRead read = readOneRegister(master, state.slaveAddress.load(), entry.address);
    if (read.ok) {
        entry.field.store(state, decodeRegister(entry.format, read.high, read.low));
        state.resultCode.store(std::uint8_t(entry.readCode));
    } else {
        entry.field.store(state, 0);
        state.resultCode.store(ResultCode::failureOf(entry.readCode));
    }
}

void writeEntry(SharedState &state, RtuMaster &master, const RegisterEntry &entry,
                const std::array<std::uint8_t, 2> &value) {
    if (master.writeRegister(state.slaveAddress.load(), entry.address, value.data(),
                             int(value.size())) == 1) {
        state.resultCode.store(std::uint8_t(entry.writeCode));
    } else if (entry.writeCode == WriteBaudRate) {
        // The sensor may already answer at the new rate: the operator gets its own hint.
        state.resultCode.store(ResultCode::BaudRateWriteFailed);
    } else {
        state.resultCode.store(ResultCode::failureOf(entry.writeCode));
    }
}

std::uint8_t cycleReadBit(std::uint16_t address) {
    switch (address) {
        case 0:
            return CycleRead::Smoke;
        case 1:
            return CycleRead::Temperature;
        case 2:
            return CycleRead::Humidity;
        case 3:
            return CycleRead::AlarmStatus;
        case 112:
            return CycleRead::SmokeAd;
    }
    return 0;
}

void runAcquisitionCycle(SharedState &state, RtuMaster &master, SampleWindow &samples) {
    std::uint8_t readsOk = 0;
    for (const RegisterEntry &entry : kRegisterMap) {
        if (entry.readCode != AcquisitionCycle)
            continue;
        // Each read fails on its own; the address is taken afresh every time.
        const RegisterRead read = readOneRegister(master, state.slaveAddress.load(), entry.address);
        if (read.ok) {
            entry.field.store(state, decodeRegister(entry.format, read.high, read.low));
            readsOk |= cycleReadBit(entry.address);
            if (entry.marksSample)
                samples.sampleReady.store(1);
        } else {
            entry.field.store(state, 0);
        }
    }
    state.cycleReadsOk.store(readsOk);
}

void dispatch(SharedState &state, RtuMaster &master, SampleWindow &samples,
              const TakenCommand &command) {
    if (command.code == ScanDevice) {
        scanForSensor(state, master);
    } else if (command.code == AcquisitionCycle) {
        runAcquisitionCycle(state, master, samples);
    } else if (const RegisterEntry *read = entryForReadCode(command.code)) {
        readEntry(state, master, *read);
    } else if (const RegisterEntry *write = entryForWriteCode(command.code)) {
        writeEntry(state, master, *write, command.writeValue);
    }
    // Any other code has no transaction: taken up and dropped.
}

}  // namespace

RegisterRead registerFromReply(int result, const std::uint8_t *data, std::uint8_t byteCount) {
    RegisterRead read;
    // One register is two data bytes. Fewer hold no value; more are no answer to this request
    // (a frame the sensor uploaded on its own, say) and would put another value in its place.
    if (result == 1 && byteCount == 2 && data != nullptr) {
        read.ok = true;
        read.high = data[0];
        read.low = data[1];
    }
    return read;
}

ThreadFromQThread::ThreadFromQThread(QObject *parent) : QThread(parent) {}

ThreadFromQThread::~ThreadFromQThread() {
    wait();
    // Qt joins its threads through futexes that ThreadSanitizer cannot see. A run's last
    // store releases workerPhase, so acquiring it orders everything the thread did to this
    // object before the object goes.
    (void)sharedState.workerPhase.load(std::memory_order_acquire);
    qDebug() << "ThreadFromQThread delete";
}

void ThreadFromQThread::run() {
    performWorkerJob(sharedState, *serialPort, *rtuMaster, *sampleWindow);
}

void performWorkerJob(SharedState &state, Serial &serial, RtuMaster &master,
                      SampleWindow &samples) {
    const bool acquiring = state.acquisitionOn.load() == 1;
    state.workerPhase.store(WorkerPhase::Running);
    state.resultCode.store(ResultCode::None);
    const bool open = serial.isOpen.load();

    // While the port is closed a posted code stays pending for the first run after it opens.
    const TakenCommand command =
        open ? takeCommand(state) : TakenCommand{state.commandCode.load(), {0, 0}};

    if (acquiring && command.code == Idle) {
        if (state.elapsedMs.load() > state.acquisitionPeriodMs.load()) {
            state.elapsedMs.store(0);
            if (open) {
                runAcquisitionCycle(state, master, samples);
            } else {
                // Left pending like a posted code, unless a press got in first.
                std::uint32_t expected = Idle;
                state.commandCode.compare_exchange_strong(expected, AcquisitionCycle);
            }
        }
    } else if (open) {
        dispatch(state, master, samples, command);
    }

    state.workerPhase.store(WorkerPhase::Finished, std::memory_order_release);
}
