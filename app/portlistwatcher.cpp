#include "app/portlistwatcher.h"

#include <QFileSystemWatcher>

PortListWatcher::PortListWatcher(Enumerator enumerate, QObject *parent, ChangeSignal signal,
                                 const QString &deviceDirectory)
    : QObject(parent), enumerate(std::move(enumerate)) {
    switch (signal) {
        case ChangeSignal::DeviceDirectory:
#ifdef Q_OS_LINUX
            watcher = new QFileSystemWatcher(this);
            if (watcher->addPath(deviceDirectory)) {
                connect(watcher, &QFileSystemWatcher::directoryChanged, this,
                        &PortListWatcher::devicesMayHaveChanged);
                break;
            }
            delete watcher;
            watcher = nullptr;
#else
            Q_UNUSED(deviceDirectory);
#endif
            enumerateEveryTick = true;
            break;
        case ChangeSignal::EveryTick:
            enumerateEveryTick = true;
            break;
        case ChangeSignal::External:
            break;
    }
}

std::optional<QStringList> PortListWatcher::namesIfChanged() {
    const bool due = firstCall || enumerateEveryTick || settleTicksLeft > 0;
    firstCall = false;
    if (settleTicksLeft > 0)
        --settleTicksLeft;
    if (!due)
        return std::nullopt;

    QStringList names = enumerate();
    if (names == knownPorts)
        return std::nullopt;
    knownPorts = names;
    return names;
}

void PortListWatcher::devicesMayHaveChanged() {
    settleTicksLeft = kSettleTicks;
}
