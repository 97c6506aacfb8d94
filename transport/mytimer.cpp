#include "transport/mytimer.h"

#include <QDebug>
#include <QTimerEvent>

MyTimer::MyTimer(QObject *parent) : QObject(parent), timerId(0), intervalMs(100) {
    timerId = startTimer(intervalMs, Qt::CoarseTimer);
}

MyTimer::~MyTimer() {
    qDebug() << "time delete";
}

void MyTimer::timerEvent(QTimerEvent *event) {
    if (event->timerId() == timerId)
        emit handleTimeout();
}
