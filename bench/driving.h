#pragma once

#include <QString>

#include <functional>
#include <memory>

class MainWindow;
class QWidget;

// Driving the real window from the benchmark, as an operator would.

void runEventLoopFor(int milliseconds);
// Runs the event loop until done() holds or the time is up.
bool waitUntil(const std::function<bool()> &done, int timeoutMs);
void click(QWidget &window, const char *button);
// Whether the log pane has this line.
bool logHasLine(QWidget &window, const QString &line);
// The program's window, shown, with the port opened at the baud rate (and the sensor scanned);
// nullptr when that failed.
std::unique_ptr<MainWindow> openProgram(const QString &port, int baudRate, bool scan);
