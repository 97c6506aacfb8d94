#pragma once

#include <QThread>

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
