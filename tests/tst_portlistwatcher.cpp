#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/portlistwatcher.h"

// An enumerator whose answer the test sets and whose calls it counts.
struct FakePorts {
    QStringList names;
    int calls = 0;
    PortListWatcher::Enumerator enumerator() {
        return [this] {
            ++calls;
            return names;
        };
    }
};

class PortListWatcherTest : public QObject {
    Q_OBJECT

private slots:
    void reportsOnlyChangedLists_data();
    void reportsOnlyChangedLists();
    void enumeratesOnlyAfterChangeSignal();
    void deviceAppearingWhileNodesSettleIsSeen();
    void withoutChangeSignalEnumeratesEveryTick();
    void watchesTheDeviceDirectory();
};

void PortListWatcherTest::reportsOnlyChangedLists_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("reported");

    const QStringList one{"ttyUSB0"};
    const QStringList two{"ttyUSB0", "ttyUSB1"};
    QTest::newRow("unchanged") << two << two << false;
    QTest::newRow("port added") << one << two << true;
    QTest::newRow("port removed") << two << one << true;
    QTest::newRow("order changed") << two << QStringList{"ttyUSB1", "ttyUSB0"} << true;
    QTest::newRow("renamed") << one << QStringList{"ttyS0"} << true;
    QTest::newRow("all gone") << one << QStringList{} << true;
}

void PortListWatcherTest::reportsOnlyChangedLists() {
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(bool, reported);

    FakePorts ports;
    ports.names = before;
    PortListWatcher watcher(ports.enumerator(), nullptr, PortListWatcher::ChangeSignal::EveryTick);
    QCOMPARE(watcher.namesIfChanged(), std::optional<QStringList>(before));

    ports.names = after;
    const std::optional<QStringList> names = watcher.namesIfChanged();
    QCOMPARE(names.has_value(), reported);
    if (reported)
        QCOMPARE(*names, after);
    // Once reported, the same list is not reported again.
    QVERIFY(!watcher.namesIfChanged());
}

void PortListWatcherTest::enumeratesOnlyAfterChangeSignal() {
    FakePorts ports;
    ports.names = QStringList{"ttyS0"};
    PortListWatcher watcher(ports.enumerator(), nullptr, PortListWatcher::ChangeSignal::External);

    QCOMPARE(watcher.namesIfChanged(), std::optional<QStringList>(QStringList{"ttyS0"}));
    QCOMPARE(ports.calls, 1);
    for (int tick = 0; tick < 50; ++tick)
        QVERIFY(!watcher.namesIfChanged());
    QCOMPARE(ports.calls, 1);

    ports.names = QStringList{"ttyS0", "ttyUSB0"};
    watcher.devicesMayHaveChanged();
    QCOMPARE(watcher.namesIfChanged(), std::optional<QStringList>(ports.names));
    for (int tick = 0; tick < 50; ++tick)
        QVERIFY(!watcher.namesIfChanged());
    QCOMPARE(ports.calls, 1 + PortListWatcher::kSettleTicks);
}

void PortListWatcherTest::deviceAppearingWhileNodesSettleIsSeen() {
    FakePorts ports;
    PortListWatcher watcher(ports.enumerator(), nullptr, PortListWatcher::ChangeSignal::External);
    QVERIFY(!watcher.namesIfChanged());  // no ports: the empty selector stays as it is

    watcher.devicesMayHaveChanged();
    QVERIFY(!watcher.namesIfChanged());
    QVERIFY(!watcher.namesIfChanged());
    ports.names = QStringList{"ttyUSB0"};  // the node shows up a little after the signal
    QCOMPARE(watcher.namesIfChanged(), std::optional<QStringList>(ports.names));
}

void PortListWatcherTest::withoutChangeSignalEnumeratesEveryTick() {
    FakePorts ports;
    PortListWatcher watcher(ports.enumerator(), nullptr, PortListWatcher::ChangeSignal::EveryTick);
    for (int tick = 0; tick < 7; ++tick)
        watcher.namesIfChanged();
    QCOMPARE(ports.calls, 7);
    ports.names = QStringList{"COM3"};
    QCOMPARE(watcher.namesIfChanged(), std::optional<QStringList>(ports.names));
}

void PortListWatcherTest::watchesTheDeviceDirectory() {
#ifndef Q_OS_LINUX
    QSKIP("a device directory is watched on Linux; Windows' WM_DEVICECHANGE is tst_com_port's");
#endif
    QTemporaryDir devices;
    QVERIFY(devices.isValid());
    FakePorts ports;
    PortListWatcher watcher(ports.enumerator(), nullptr,
                            PortListWatcher::ChangeSignal::DeviceDirectory, devices.path());
    QVERIFY(watcher.watchesDevices());
    watcher.namesIfChanged();
    watcher.namesIfChanged();
    QCOMPARE(ports.calls, 1);

    // A new device node: the directory changes, and the next ticks read the list.
    ports.names = QStringList{"ttyUSB0"};
    QFile node(devices.filePath("ttyUSB0"));
    QVERIFY(node.open(QIODevice::WriteOnly));
    node.close();
    std::optional<QStringList> seen;
    // QTRY_VERIFY evaluates once more after success; the first answer is the one kept.
    QTRY_VERIFY(seen.has_value() || (seen = watcher.namesIfChanged()).has_value());
    QCOMPARE(*seen, ports.names);

    // A directory that cannot be watched falls back to reading the list every tick.
    PortListWatcher fallback(ports.enumerator(), nullptr,
                             PortListWatcher::ChangeSignal::DeviceDirectory,
                             devices.filePath("missing"));
    QVERIFY(!fallback.watchesDevices());
    const int before = ports.calls;
    fallback.namesIfChanged();
    fallback.namesIfChanged();
    QCOMPARE(ports.calls, before + 2);
}

QTEST_GUILESS_MAIN(PortListWatcherTest)
#include "tst_portlistwatcher.moc"
