#pragma once

#include <QThread>

#include <cstdint>

struct SharedState;
struct SampleWindow;
class Serial;
class RtuMaster;

// The worker: each start carries out one posted command, one acquisition cycle, or nothing,
// as the shared state asks, and returns.
class ThreadFromQThread : public QThread {
    Q_OBJECT

public:
    explicit ThreadFromQThread(QObject *parent = nullptr);
    ~ThreadFromQThread() override;

protected:
    void run() override;
};

// A one-register read as the worker takes it from the master's outcome.
struct RegisterRead {
    bool ok = false;
    std::uint8_t high = 0;
    std::uint8_t low = 0;
};
RegisterRead registerFromReply(int result, const std::uint8_t *data, std::uint8_t byteCount);

// One run of the worker. Marks the state Finished (release) as its very last store.
void performWorkerJob(SharedState &state, Serial &serial, RtuMaster &master, SampleWindow &samples);
