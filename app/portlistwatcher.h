#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

// Decides when the list of serial ports has to be read again. Enumerating costs about 14 ms
// of CPU, so it is done only when the operating system says the set of devices may have
// changed (and for a short while after, while device nodes settle); where there is no such
// signal, it is done on every call.
class PortListWatcher : public QObject {
    Q_OBJECT

public:
    using Enumerator = std::function<QStringList()>;

    explicit PortListWatcher(Enumerator enumerate, QObject *parent = nullptr);

    // Called once per tick: the current names when they differ from the names last
    // returned (the first call always enumerates), otherwise nothing.
    std::optional<QStringList> namesIfChanged();

public slots:
    // The change signal: the set of devices may have changed.
    void devicesMayHaveChanged();
};
