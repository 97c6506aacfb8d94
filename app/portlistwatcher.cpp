#include "app/portlistwatcher.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QFileSystemWatcher>

#ifdef Q_OS_WIN
#include <windows.h>
// After windows.h, whose types it uses.
#include <dbt.h>

namespace {

// Windows sends WM_DEVICECHANGE to every top-level window when a device comes or goes (a USB
// adapter plugged or pulled), without any registration.
class DeviceChangeFilter : public QAbstractNativeEventFilter {
public:
    explicit DeviceChangeFilter(std::function<void()> changed) : changed(std::move(changed)) {}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override {
#else
    bool nativeEventFilter(const QByteArray &type, void *message, long *) override {
#endif
        if (type == "windows_generic_MSG") {
            const MSG *msg = static_cast<const MSG *>(message);
            if (msg->message == WM_DEVICECHANGE &&
                (msg->wParam == DBT_DEVNODES_CHANGED || msg->wParam == DBT_DEVICEARRIVAL ||
                 msg->wParam == DBT_DEVICEREMOVECOMPLETE))
                changed();
        }
        return false;  // the message goes on to Qt as before
    }

private:
    std::function<void()> changed;
};

}  // namespace
#endif

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
#elif defined(Q_OS_WIN)
            Q_UNUSED(deviceDirectory);
            if (QCoreApplication::instance() != nullptr) {
                deviceMessages =
                    std::make_unique<DeviceChangeFilter>([this] { devicesMayHaveChanged(); });
                QCoreApplication::instance()->installNativeEventFilter(deviceMessages.get());
                break;
            }
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

PortListWatcher::~PortListWatcher() {
    if (deviceMessages && QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(deviceMessages.get());
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
