#pragma once

#include <QObject>

// The program's heartbeat: emits handleTimeout() every 100 ms from construction on.
class MyTimer : public QObject {
    Q_OBJECT

public:
    explicit MyTimer(QObject *parent = nullptr);
    ~MyTimer() override;

signals:
    void handleTimeout();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    int timerId;
    int intervalMs;
};
