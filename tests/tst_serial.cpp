#include <QSerialPort>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "rtu/rtumaster.h"
#include "sim/simulatedsensor.h"
#include "support/busfixture.h"
#include "transport/hangupwatch.h"
#include "transport/serial.h"

using namespace std::chrono_literals;

namespace {

const QByteArray kReadRequest = QByteArray::fromHex(
    "01030000000184"
    "0A");
const QByteArray kReadReply = QByteArray::fromHex("010302000A3843");
// What a sensor might send on its own: two registers, valid CRC.
const QByteArray kUpload = QByteArray::fromHex("010304000A000B9BF6");
constexpr int kByteArrives = -1;
// notePortList() with a list that holds the open port, or one without it.
constexpr int kListWith = -2;
constexpr int kListWithout = -3;
// A byte waits when the event loop looks, and a send posted from another thread takes it
// before Qt's read notifier runs in the same pass.
constexpr int kByteTakenFirst = -4;

// Opens serial on a fresh pty and wires readyRead as the main window does.
bool openOn(Serial &serial, const PtyPeer &peer) {
    wireReadyRead(serial);
    return peer.isValid() && serial.openPort(peer.slavePath(), 9600);
}

}  // namespace

class TestSerial : public QObject {
    Q_OBJECT

private slots:
    void replyInTwoNotificationsIsWhole();
    void bytesOutsideAWindowAreLoggedOnceAndNeverGathered();
    void onlyTheLastWindowOfAJobIsShown();
    void openFailsOnMissingPort_data();
    void openFailsOnMissingPort();
    void sendWhileClosedFails_data();
    void sendWhileClosedFails();
    void sendFromOwnerThreadWritesAtOnce_data();
    void sendFromOwnerThreadWritesAtOnce();
    void portErrors_data();
    void portErrors();
    void handOffFromWorkerWritesInOwnerThread();
    void shutdownReleasesWaitingWorker();
    void handOffAfterShutdownFailsAtOnce();
    void handOffPendingAtShutdownNeverWrites();
    void hangUpDoesNotSpinAndLaterTransactionsFail_data();
    void hangUpDoesNotSpinAndLaterTransactionsFail();
    void closeAndReopenAfterHangUp();
    void hangUpWatchNeedsNoErrorFromQt();
    void destructorReleasesThePort();
    void takeEmptiesTheLogFrames();
};

void TestSerial::replyInTwoNotificationsIsWhole() {
    PtyPeer peer;
    Serial serial;
    QVERIFY(openOn(serial, peer));
    QCOMPARE(serial.sendData(kReadRequest), 1);

    QVERIFY(peer.write(kReadReply.left(3)));
    QTRY_COMPARE(serial.rxBufferSnapshot(), kReadReply.left(3));
    QCOMPARE(serial.lastReceived(), kReadReply.left(3));

    QVERIFY(peer.write(kReadReply.mid(3)));
    QTRY_COMPARE(serial.rxBufferSnapshot(), kReadReply);
    QCOMPARE(serial.lastReceived(), kReadReply);
}

void TestSerial::bytesOutsideAWindowAreLoggedOnceAndNeverGathered() {
    PtyPeer peer;
    Serial serial;
    QVERIFY(openOn(serial, peer));
    serial.replyWaitMs = 30;
    RtuMaster master(serial);

    // Unsolicited frames while idle: each reaches the log once, none is gathered.
    QByteArray taken;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(peer.write(kUpload));
        QTRY_COMPARE(serial.lastReceived().size(), kUpload.size());
        taken += serial.takeLastReceived();
        QVERIFY(serial.rxBufferSnapshot().isEmpty());
    }
    QCOMPARE(taken, kUpload + kUpload + kUpload);

    // A reply after its wait: logged once, beside the transaction's own empty window, and
    // never in the buffer that the next transaction will read.
    int result = -1;
    std::uint8_t data[255] = {};
    std::uint8_t byteCount = 0;
    QVERIFY(runOnWorker([&] { result = master.readRegisters(1, 0, 1, data, &byteCount); }));
    QCOMPARE(result, 0);
    QCOMPARE(peer.read(8, 1000), kReadRequest);
    QVERIFY(peer.write(kReadReply));
    QTRY_COMPARE(serial.lastReceived(), kReadReply);
    runEventLoopFor(20);
    QVERIFY(serial.rxBufferSnapshot().isEmpty());
    QCOMPARE(serial.takeLastReceived(), kReadReply);
    QVERIFY(serial.takeLastReceived().isEmpty());
}

void TestSerial::onlyTheLastWindowOfAJobIsShown() {
    PtyPeer peer;
    Serial serial;
    QVERIFY(openOn(serial, peer));
    const QByteArray stray = QByteArray::fromHex("55AA");

    // Two transactions in one job, a stray frame between them: the first window's bytes
    // leave the log, the stray ones stay, in the order they came.
    QCOMPARE(serial.sendData(kReadRequest), 1);
    QVERIFY(peer.write(kReadReply));
    QTRY_COMPARE(serial.rxBufferSnapshot(), kReadReply);
    QCOMPARE(serial.closeReplyWindow(), kReadReply);
    QVERIFY(peer.write(stray));
    QTRY_COMPARE(serial.lastReceived(), kReadReply + stray);
    QCOMPARE(serial.sendData(kReadRequest), 1);
    QVERIFY(serial.rxBufferSnapshot().isEmpty());
    QVERIFY(peer.write(kReadReply.left(5)));
    QTRY_COMPARE(serial.rxBufferSnapshot(), kReadReply.left(5));
    QCOMPARE(serial.closeReplyWindow(), kReadReply.left(5));

    QCOMPARE(serial.takeLastReceived(), stray + kReadReply.left(5));
}

void TestSerial::openFailsOnMissingPort_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isOpenBefore");

    QTest::newRow("absolute path, flag clear") << "/dev/ttyNoSuchAdapter" << false;
    QTest::newRow("absolute path, flag set") << "/dev/ttyNoSuchAdapter" << true;
    QTest::newRow("short name") << "ttyNoSuchAdapter7" << false;
    QTest::newRow("empty name") << "" << true;
}

void TestSerial::openFailsOnMissingPort() {
    QFETCH(QString, name);
    QFETCH(bool, isOpenBefore);

    Serial serial;
    serial.isOpen = isOpenBefore;
    QVERIFY(!serial.openPort(name, 9600));
    QVERIFY(!serial.port->isOpen());
    QCOMPARE(serial.isOpen.load(), isOpenBefore);
}

void TestSerial::sendWhileClosedFails_data() {
    QTest::addColumn<bool>("fromWorker");
    QTest::newRow("owner thread") << false;
    QTest::newRow("worker thread") << true;
}

void TestSerial::sendWhileClosedFails() {
    QFETCH(bool, fromWorker);

    Serial serial;
    int result = -1;
    if (fromWorker)
        QVERIFY(runOnWorker([&] { result = serial.sendData(kReadRequest); }));
    else
        result = serial.sendData(kReadRequest);

    QCOMPARE(result, 0);
    QCOMPARE(serial.lastSent(), kReadRequest);
}

void TestSerial::sendFromOwnerThreadWritesAtOnce_data() {
    QTest::addColumn<bool>("uploadWaits");
    QTest::addColumn<bool>("onlyIfQuiet");
    QTest::addColumn<int>("expected");  // a Serial::SendResult
    const int written = int(Serial::SendResult::Written);
    QTest::newRow("nothing waits") << false << false << written;
    QTest::newRow("nothing waits, only if quiet") << false << true << written;
    QTest::newRow("an upload waits") << true << false << written;
    QTest::newRow("an upload waits, only if quiet")
        << true << true << int(Serial::SendResult::LineNotQuiet);
}

void TestSerial::sendFromOwnerThreadWritesAtOnce() {
    QFETCH(bool, uploadWaits);
    QFETCH(bool, onlyIfQuiet);
    QFETCH(int, expected);
    PtyPeer peer;
    Serial serial;
    QVERIFY(openOn(serial, peer));
    QList<int> errors;
    connect(serial.port, &QSerialPort::errorOccurred, this, [&](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError && e != QSerialPort::TimeoutError)
            errors << e;
    });
    // A frame the sensor sent on its own waits in the OS, unread: this thread runs no event
    // loop, as when it is busy.
    if (uploadWaits) {
        QVERIFY(peer.write(kUpload));
        std::this_thread::sleep_for(20ms);
    }

    const Serial::SendResult result =
        onlyIfQuiet ? serial.sendIfQuiet(kReadRequest, serial.lastByteTime())
        : serial.sendData(kReadRequest) == 1 ? Serial::SendResult::Written
                                             : Serial::SendResult::Failed;

    QCOMPARE(int(result), expected);
    // Only a flush by the call itself puts the frame on the wire. (The pty moves it to the
    // master end a moment later, hence the short wait.)
    const bool writes = result == Serial::SendResult::Written;
    QCOMPARE(peer.read(8, 100), writes ? kReadRequest : QByteArray());
    // What waited came before the request: logged, never gathered into its window.
    QCOMPARE(serial.lastReceived(), uploadWaits ? kUpload : QByteArray());
    QVERIFY(serial.rxBufferSnapshot().isEmpty());
    runEventLoopFor(20);
    QCOMPARE(serial.lastReceived(), uploadWaits ? kUpload : QByteArray());
    QCOMPARE(errors, QList<int>());
    QVERIFY(serial.port->isOpen());
}

void TestSerial::portErrors_data() {
    QTest::addColumn<QList<int>>("events");  // error codes, or one of the events above
    QTest::addColumn<bool>("released");

    const int read = QSerialPort::ReadError;
    QList<int> readsWithBytesBetween;
    QList<int> readsInARow;
    QList<int> timeouts;
    for (int i = 0; i < 15; ++i) {
        readsWithBytesBetween << read << kByteArrives;
        readsInARow << read;
        timeouts << QSerialPort::TimeoutError;
    }
    QTest::newRow("one read error") << QList<int>{read} << false;
    QTest::newRow("one write error") << QList<int>{QSerialPort::WriteError} << false;
    QTest::newRow("read errors with bytes between") << readsWithBytesBetween << false;
    QTest::newRow("timeouts") << timeouts << false;
    QTest::newRow("resource error, line still up")
        << QList<int>{QSerialPort::ResourceError} << false;
    QTest::newRow("byte taken before Qt's notifier, then a byte")
        << QList<int>{kByteTakenFirst, kByteArrives} << false;
    QTest::newRow("read errors in a row, nothing readable") << readsInARow << true;
    // The system's port list, read after a device change.
    QTest::newRow("never listed (a pty)") << QList<int>{kListWithout, kListWithout} << false;
    QTest::newRow("listed, then listed again") << QList<int>{kListWith, kListWith} << false;
    QTest::newRow("listed, then gone from the list")
        << QList<int>{kListWith, kListWithout, kListWithout} << true;
}

void TestSerial::portErrors() {
    QFETCH(QList<int>, events);
    QFETCH(bool, released);
    PtyPeer peer;
    Serial serial;
    QVERIFY(openOn(serial, peer));
    QSignalSpy releases(&serial, &Serial::portReleased);

    for (const int event : events) {
        if (event == kByteArrives) {
            const int before = serial.lastReceived().size();
            QVERIFY(peer.write(QByteArray(1, '\x55')));
            QTRY_COMPARE(serial.lastReceived().size(), before + 1);
        } else if (event == kByteTakenFirst) {
            QList<int> qtErrors;
            QObject scope;
            connect(serial.port, &QSerialPort::errorOccurred, &scope,
                    [&](QSerialPort::SerialPortError error) {
                        if (error != QSerialPort::NoError)
                            qtErrors << error;
                    });
            QVERIFY(peer.write(QByteArray(1, '\x55')));
            pollfd line{int(serial.port->handle()), POLLIN, 0};
            QCOMPARE(::poll(&line, 1, 1000), 1);
            std::thread([&] {
                QMetaObject::invokeMethod(
                    serial.port,
                    [&] {
                        QCOMPARE(serial.sendData(kReadRequest), 1);
                        // As the event loop's own wake-up read leaves it; Qt's notifier finds
                        // nothing and names the error after errno.
                        errno = EAGAIN;
                    },
                    Qt::QueuedConnection);
            }).join();
            QTRY_COMPARE(qtErrors, QList<int>{QSerialPort::ResourceError});
            QCOMPARE(peer.read(8, 1000), kReadRequest);
        } else if (event == kListWith || event == kListWithout) {
            QStringList names{QStringLiteral("ttyS0")};
            if (event == kListWith)
                names << serial.port->portName();
            serial.notePortList(names);
        } else {
            emit serial.port->errorOccurred(QSerialPort::SerialPortError(event));
        }
    }
    runEventLoopFor(20);

    QCOMPARE(serial.port->isOpen(), !released);
    QCOMPARE(releases.count(), released ? 1 : 0);
    if (!released) {
        QCOMPARE(serial.sendData(kReadRequest), 1);
        QCOMPARE(peer.read(8, 1000), kReadRequest);
    }
}

void TestSerial::handOffFromWorkerWritesInOwnerThread() {
    PtyPeer peer;
    Serial serial;
    QVERIFY(openOn(serial, peer));

    QThread *writingThread = nullptr;
    connect(
        serial.port, &QSerialPort::bytesWritten, serial.port,
        [&](qint64) { writingThread = QThread::currentThread(); }, Qt::DirectConnection);

    // The owner thread is busy when the hand-off arrives: a sendData that returned before the
    // owner wrote would find nothing on the wire for a good while.
    QTimer::singleShot(0, [] { std::this_thread::sleep_for(300ms); });
    int result = -1;
    QByteArray onTheWireWhenReturned;
    QVERIFY(runOnWorker([&] {
        result = serial.sendData(kReadRequest);
        onTheWireWhenReturned = peer.read(8, 100);
    }));

    QCOMPARE(result, 1);
    QCOMPARE(onTheWireWhenReturned, kReadRequest);
    QCOMPARE(writingThread, QThread::currentThread());
    QCOMPARE(serial.lastSent(), kReadRequest);
}

void TestSerial::shutdownReleasesWaitingWorker() {
    PtyPeer peer;
    Serial serial;
    QVERIFY(openOn(serial, peer));

    // This thread runs no event loop, as a GUI thread blocked waiting for its worker.
    std::atomic<bool> sending{false};
    std::promise<int> result;
    std::thread worker([&] {
        sending = true;
        result.set_value(serial.sendData(kReadRequest));
    });
    std::future<int> sent = result.get_future();
    while (!sending)
        std::this_thread::yield();
    // Either order must release it: hand-off already waiting, or about to start.
    QCOMPARE(sent.wait_for(50ms), std::future_status::timeout);
    serial.shutdownHandoff();

    const bool released = sent.wait_for(5s) == std::future_status::ready;
    if (!released)
        QCoreApplication::processEvents();  // let it go, so the join below cannot hang
    worker.join();
    QVERIFY(released);
    QCOMPARE(sent.get(), 0);
}

void TestSerial::handOffAfterShutdownFailsAtOnce() {
    PtyPeer peer;
    Serial serial;
    QVERIFY(openOn(serial, peer));
    serial.shutdownHandoff();

    std::promise<int> result;
    std::future<int> sent = result.get_future();
    std::thread worker([&] { result.set_value(serial.sendData(kReadRequest)); });
    const bool returned = sent.wait_for(5s) == std::future_status::ready;
    if (!returned)
        QCoreApplication::processEvents();
    worker.join();
    QVERIFY(returned);
    QCOMPARE(sent.get(), 0);
    runEventLoopFor(20);
    QCOMPARE(peer.read(8, 100), QByteArray());
}

void TestSerial::handOffPendingAtShutdownNeverWrites() {
    PtyPeer peer;
    Serial serial;
    QVERIFY(openOn(serial, peer));

    std::promise<int> result;
    std::future<int> sent = result.get_future();
    std::thread worker([&] { result.set_value(serial.sendData(kReadRequest)); });
    // The hand-off is posted but this thread does not run it before shutting down.
    QCOMPARE(sent.wait_for(50ms), std::future_status::timeout);
    serial.shutdownHandoff();
    const bool returned = sent.wait_for(5s) == std::future_status::ready;
    worker.join();
    QVERIFY(returned);
    QCOMPARE(sent.get(), 0);

    // Now the posted hand-off runs, and must leave the port alone.
    runEventLoopFor(20);
    QCOMPARE(peer.read(8, 100), QByteArray());
}

void TestSerial::hangUpDoesNotSpinAndLaterTransactionsFail_data() {
    QTest::addColumn<bool>("simulatedSensor");
    QTest::newRow("raw pty closed") << false;
    QTest::newRow("simulated sensor hangs up") << true;
}

void TestSerial::hangUpDoesNotSpinAndLaterTransactionsFail() {
    QFETCH(bool, simulatedSensor);

    PtyPeer peer;
    SimulatedSensor sensor;
    if (simulatedSensor)
        QVERIFY(sensor.openPty());
    Serial serial;
    wireReadyRead(serial);
    QSignalSpy releases(&serial, &Serial::portReleased);
    QVERIFY(serial.openPort(simulatedSensor ? sensor.portPath() : peer.slavePath(), 9600));
    serial.isOpen = true;
    serial.replyWaitMs = 50;
    RtuMaster master(serial);

    std::uint8_t data[255];
    std::memset(data, 0xEE, sizeof data);
    std::uint8_t byteCount = 0xEE;
    int result = -1;
    if (simulatedSensor) {
        QVERIFY(runOnWorker([&] { result = master.readRegisters(1, 100, 1, data, &byteCount); }));
        QCOMPARE(result, 1);
        byteCount = 0xEE;
        std::memset(data, 0xEE, sizeof data);
        sensor.hangUp();
    } else {
        peer.hangUp();
    }

    const auto wallStart = std::chrono::steady_clock::now();
    const auto cpuStart = processCpuTime();
    runEventLoopFor(1500);
    const auto cpuUsed = processCpuTime() - cpuStart;
    const auto wallUsed = std::chrono::steady_clock::now() - wallStart;

    const double share = double(cpuUsed.count()) / double(wallUsed.count());
    QVERIFY2(share < 0.2, qPrintable(QStringLiteral("CPU share %1 after hang-up").arg(share)));
    QVERIFY(!serial.port->isOpen());
    // Once for the whole storm of errors; the operator's view of the port is left alone.
    QCOMPARE(releases.count(), 1);
    QCOMPARE(serial.isOpen.load(), true);

    int sendResult = -1;
    const auto transactionStart = std::chrono::steady_clock::now();
    QVERIFY(runOnWorker([&] {
        sendResult = serial.sendData(kReadRequest);
        result = master.readRegisters(1, 0, 1, data, &byteCount);
    }));
    QCOMPARE(sendResult, 0);
    QCOMPARE(result, 0);
    QVERIFY(std::chrono::steady_clock::now() - transactionStart >= 50ms);
    QCOMPARE(int(byteCount), 0xEE);
    QCOMPARE(int(data[0]), 0xEE);
}

// Qt 6.8 reports a hang-up by no error at all (Qt 5.15 and 6.4 by a stream of them, which the
// tests above also see): the watch has to find it by itself, once, and bytes are no hang-up.
void TestSerial::hangUpWatchNeedsNoErrorFromQt() {
    PtyPeer peer;
    // A descriptor that nothing else reads: waiting bytes keep the watch's notifier firing.
    const int line = ::open(peer.slavePath().toLocal8Bit().constData(),
                            O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(line >= 0);
    HangUpWatch watch;
    QSignalSpy hungUp(&watch, &HangUpWatch::hungUp);
    watch.watch(line);

    QVERIFY(peer.write(kReadReply));
    runEventLoopFor(50);
    QCOMPARE(hungUp.count(), 0);
    char bytes[16];
    QCOMPARE(int(::read(line, bytes, sizeof bytes)), int(kReadReply.size()));

    peer.hangUp();
    QTRY_COMPARE(hungUp.count(), 1);
    runEventLoopFor(50);
    QCOMPARE(hungUp.count(), 1);
    watch.stop();
    ::close(line);
}

void TestSerial::closeAndReopenAfterHangUp() {
    PtyPeer first;
    Serial serial;
    QVERIFY(openOn(serial, first));
    first.hangUp();
    QTRY_VERIFY(!serial.port->isOpen());

    // The operator closes (nothing left to close) and opens another port.
    serial.closePort();
    PtyPeer second;
    QVERIFY(serial.openPort(second.slavePath(), 9600));
    QCOMPARE(serial.sendData(kReadRequest), 1);
    QCOMPARE(second.read(8, 1000), kReadRequest);
    QVERIFY(second.write(kReadReply));
    QTRY_COMPARE(serial.rxBufferSnapshot(), kReadReply);
}

void TestSerial::destructorReleasesThePort() {
    PtyPeer peer;
    {
        Serial first;
        QVERIFY(openOn(first, peer));
    }
    // A port left open would still be locked for exclusive use.
    Serial second;
    QVERIFY(openOn(second, peer));
    QCOMPARE(second.sendData(kReadRequest), 1);
    QCOMPARE(peer.read(8, 1000), kReadRequest);
}

void TestSerial::takeEmptiesTheLogFrames() {
    PtyPeer peer;
    Serial serial;
    QVERIFY(openOn(serial, peer));
    QCOMPARE(serial.sendData(kReadRequest), 1);
    QVERIFY(peer.write(kReadReply));
    QTRY_COMPARE(serial.lastReceived(), kReadReply);

    QCOMPARE(serial.takeLastSent(), kReadRequest);
    QCOMPARE(serial.takeLastReceived(), kReadReply);
    QVERIFY(serial.takeLastSent().isEmpty());
    QVERIFY(serial.takeLastReceived().isEmpty());
    // The reply is still there for the transaction that waits for it.
    QCOMPARE(serial.rxBufferSnapshot(), kReadReply);
}

QTEST_GUILESS_MAIN(TestSerial)
#include "tst_serial.moc"
