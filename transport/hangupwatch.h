#pragma once

#include <QObject>

class QSocketNotifier;

// Tells when the other end of a tty hangs up (a pseudo-terminal's master closed). Qt 5.15 and
// Qt 6.4 report that as a stream of read errors; Qt 6.8 reports nothing while its read
// notifier keeps firing on the hung-up line. A notifier of our own on a duplicate of the
// port's descriptor sees the hang-up (POLLHUP) under either. Does nothing on systems without
// poll().
class HangUpWatch : public QObject {
    Q_OBJECT

public:
    explicit HangUpWatch(QObject *parent = nullptr);
    ~HangUpWatch() override;

    // Watches the open descriptor handle (QSerialPort::handle()) until stop() or hungUp().
    void watch(qintptr handle);
    void stop();

    // Whether a line is watched, and whether it shows a hang-up now. Nothing is watched where
    // there is no poll() or no descriptor: there the caller must decide without the watch.
    bool isWatching() const { return duplicate >= 0; }
    bool lineHungUp() const;

signals:
    // Once per watch, on the owner's thread.
    void hungUp();

private:
    void check();

    QSocketNotifier *notifier = nullptr;
    int duplicate = -1;
};
