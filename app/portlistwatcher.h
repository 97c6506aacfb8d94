#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QAbstractNativeEventFilter;
class QFileSystemWatcher;

// Decides when the list of serial ports has to be read again. Enumerating costs about 14 ms
// of CPU on Linux (udev walks every tty) and about 5 ms under Wine (SetupAPI and the
// registry), far too much for every 100 ms tick, so the list is read only when the operating
// system says the set of devices may have changed, and for a short while after, as device
// nodes settle. Where no such signal exists it is read on every tick.
class PortListWatcher : public QObject {
    Q_OBJECT

public:
    using Enumerator = std::function<QStringList()>;

    enum class ChangeSignal {
        // The system's own signal: on Linux the device directory (/dev) changing, on Windows
        // the WM_DEVICECHANGE that every top-level window gets; every tick elsewhere.
        DeviceDirectory,
        EveryTick,  // no change signal: enumerate on every call
        External,   // only devicesMayHaveChanged() says so
    };

    // Ticks after a change signal during which the list is still read: a USB adapter's node
    // may appear a moment after the directory changed, and udev adds its properties later.
    static constexpr int kSettleTicks = 10;

    explicit PortListWatcher(Enumerator enumerate, QObject *parent = nullptr,
                             ChangeSignal signal = ChangeSignal::DeviceDirectory,
                             const QString &deviceDirectory = QStringLiteral("/dev"));
    ~PortListWatcher() override;

    // Called once per tick: the current names when they differ from the names last returned
    // (the first call always reads the list), otherwise nothing.
    std::optional<QStringList> namesIfChanged();

    // The names last returned by namesIfChanged().
    const QStringList &knownNames() const { return knownPorts; }

    bool watchesDevices() const { return watcher != nullptr || deviceMessages != nullptr; }

public slots:
    void devicesMayHaveChanged();

private:
    Enumerator enumerate;
    QFileSystemWatcher *watcher = nullptr;
    std::unique_ptr<QAbstractNativeEventFilter> deviceMessages;
    bool enumerateEveryTick = false;
    bool firstCall = true;
    int settleTicksLeft = 0;
    QStringList knownPorts;
};
