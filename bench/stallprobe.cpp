#include "bench/stallprobe.h"

#include <algorithm>

namespace {

constexpr int kProbeIntervalMs = 1;

}  // namespace

StallProbe::StallProbe(QObject *parent) : QObject(parent) {
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(kProbeIntervalMs);
    connect(&timer, &QTimer::timeout, this, &StallProbe::onTick);
}

void StallProbe::start() {
    stalls.clear();
    lastNs = -1;
    clock.start();
    timer.start();
}

void StallProbe::stop() {
    timer.stop();
}

void StallProbe::onTick() {
    const qint64 now = clock.nsecsElapsed();
    if (lastNs >= 0)
        stalls.push_back(std::max(0.0, (now - lastNs) / 1e6 - kProbeIntervalMs));
    lastNs = now;
}
