#pragma once

#include <QThread>

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

// One run of the worker. Marks the state Finished (release) as its very last store.
void performWorkerJob(SharedState &state, Serial &serial, RtuMaster &master, SampleWindow &samples);
