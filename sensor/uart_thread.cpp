#include "sensor/uart_thread.h"

#include <QDebug>

ThreadFromQThread::ThreadFromQThread(QObject *parent) : QThread(parent) {}

ThreadFromQThread::~ThreadFromQThread() {
    qDebug() << "ThreadFromQThread delete";
}

void ThreadFromQThread::run() {}
