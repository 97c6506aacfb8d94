#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <vector>

// Measures how long the calling thread's event loop is away: a 1 ms precise timer whose
// late arrivals are the stalls.
class StallProbe : public QObject {
    Q_OBJECT

public:
    explicit StallProbe(QObject *parent = nullptr);

    void start();
    void stop();
    // Each interval between two timer events, minus the interval asked for (ms, >= 0).
    const std::vector<double> &stallsMs() const { return stalls; }

private slots:
    void onTick();

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 lastNs = -1;
    std::vector<double> stalls;
};
