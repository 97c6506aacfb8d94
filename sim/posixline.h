#pragma once

#include <QString>

// The few POSIX terminal calls the simulator and the bridge need.
namespace simposix {

void setError(QString *error, const QString &text);
// A pseudo-terminal pair, both ends raw; the master is non-blocking.
bool openRawPty(int *master, int *slave, QString *slavePath, QString *error);
// A serial device opened non-blocking, raw 8-N-1 without flow control. -1 on failure.
int openSerialDevice(const QString &path, int baudRate, QString *error);
bool setLineSpeed(int fd, int baudRate, int when);
bool isSupportedBaudRate(int baudRate);

}  // namespace simposix
