#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <random>

#include "sim/simulatedsensor.h"
#include "support/sessionbaudrate.h"

class QTextEdit;

// A main window driven through its widgets against a simulated sensor on a pseudo-terminal.
// The window comes from a factory, so this helper knows nothing of the build variant.
class OpsSession {
public:
    using WindowFactory = std::function<QWidget *()>;

    // Resets the shared state, starts the sensor (address 1, live values frozen) and builds the
    // window, then lets its first tick pass so the port selector has been filled once.
    explicit OpsSession(const WindowFactory &makeWindow);
    ~OpsSession();
    OpsSession(const OpsSession &) = delete;
    OpsSession &operator=(const OpsSession &) = delete;

    bool isValid() const { return valid; }
    QWidget &window() { return *windowPtr; }
    SimulatedSensor &sensor() { return sim; }

    template <typename T>
    T *widget(const char *objectName) {
        return windowPtr->findChild<T *>(QLatin1String(objectName));
    }
    QString text(const char *objectName);
    void setText(const char *lineEditName, const QString &text);
    // Clicks like the operator: nothing happens when the button is disabled.
    void click(const char *buttonName);

    // Selects the sensor's pty in com_port and the baud rate, and presses connect_button.
    void pressConnect(int baudRate = kSessionBaudRate);
    // Opens the port and waits for "串口打开成功！".
    bool openPort(int baudRate = kSessionBaudRate);
    // Opens, scans and waits for "获取成功！"; the sensor's exchange log is then cleared.
    bool openAndScan(int baudRate = kSessionBaudRate);
    // What went over the line since `since`, each moment in ms after it: when the sensor read
    // each request and wrote its reply (the last `maxExchanges` of them), and when the window
    // last read a byte.
    QString exchangeTimeline(Exchange::Clock::time_point since, int maxExchanges = 12) const;
    // Deletes the window now (as closing it would) and reports how long that took.
    qint64 destroyWindow();

    QStringList logLines() const;
    int logLineCount() const { return logLines().size(); }
    QStringList logLinesFrom(int firstLine) const;
    // The last `count` log lines on one line, for failure messages.
    QString lastLogLines(int count) const;
    // For a failure message: whether the window's port and the simulated sensor still serve
    // the line, the port's errors and release, and how many exchanges the sensor logged.
    QString lineState() const;
    // Takes events until done() holds, or timeoutMs has passed; whether it holds. Each event is
    // taken as it comes, for waits through many requests: QTest::qWaitFor, which the other
    // waits here use, sleeps up to 10 ms between passes, and a reply that comes meanwhile is
    // not gathered within a short reply wait.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000) const;
    // For a wait's failure message: the log's last lines, the line state, and the sensor's
    // exchanges since `waitBegan`.
    QString whatCame(Exchange::Clock::time_point waitBegan) const;
    // Waits with QTest::qWaitFor until done() holds. When timeoutMs passes first, warns what
    // it waited for (waitedFor(), asked then), how long, and what came instead: the log's last
    // lines, the line state and the sensor's exchanges since the wait began. On a loaded
    // machine that tells a late sensor from a late read from a wait too short.
    bool waitOrReport(const std::function<bool()> &done, int timeoutMs,
                      const std::function<QString()> &waitedFor) const;
    // Waits until `line` appears at or after firstLine; its index, or -1 after timeoutMs.
    int waitForLogLine(const QString &line, int firstLine, int timeoutMs = 5000) const;
    // Waits for the worker to be idle between runs, with no post pending: a good moment to
    // post, since the next run starts only at the next tick.
    bool waitForIdleWorker(int timeoutMs = 5000) const;
    // Waits until the chart holds at least `count` temperature samples.
    bool waitForSamples(int count, int timeoutMs = 10000) const;
    // Ticks delivered since the window was built; counted after main_loop and update_port
    // have run for the tick. Readable from any thread.
    int tickCount() const { return ticks.load(); }
    // Lets `count` ticks pass.
    void waitTicks(int count) const;

private:
    QTextEdit *log() const;

    SimulatedSensor sim;
    std::unique_ptr<QWidget> windowPtr;
    std::atomic<int> ticks{0};
    // Read, write and resource errors the window's port reported: how many, and the last few
    // as error@ms since the session began.
    int portErrors = 0;
    QStringList lastPortErrors;
    QElapsedTimer sinceStart;
    bool valid = false;
};

// The acquisition cycle's registers at values no other register shows: smoke 12 PPM, -5.00 ℃,
// 45.50 RH%, alarm status 1, smoke AD 777.
void setDistinctCycleReadings(SensorModel &model);

// Whether a file dialog was offered a name in the documents folder matching the pattern.
bool offeredInDocuments(const QString &path, const QString &namePattern);

// Right-clicks the widget at `at` (its own coordinates) and returns the object names of the
// entries of the menu that opens, an empty name for a separator; closes the menu again.
QStringList contextMenuEntries(QWidget &widget, const QPoint &at);

// Keeps the GUI thread away now and then, as a dragged window or a slow repaint does: busy
// for 25-40 ms at a time, every 100-500 ms. Seeded, so a run repeats.
class BusyWindow {
public:
    BusyWindow();

private:
    void scheduleNext();

    QTimer timer;
    std::mt19937 random{7};
};

// Counts debug lines by text while it lives.
class DebugLineCounter {
public:
    DebugLineCounter();
    ~DebugLineCounter();
    int count(const QString &line) const;
};
