#include "app/portlistwatcher.h"

PortListWatcher::PortListWatcher(Enumerator enumerate, QObject *parent) : QObject(parent) {
    Q_UNUSED(enumerate);
}

std::optional<QStringList> PortListWatcher::namesIfChanged() {
    return std::nullopt;
}

void PortListWatcher::devicesMayHaveChanged() {}
