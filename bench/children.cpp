#include "bench/children.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtCharts/QChartView>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <modbus.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "app/charts.h"
#include "app/mainwindow.h"
#include "bench/driving.h"
#include "sensor/acquisition.h"
#include "sensor/sharedstate.h"
#include "support/soak.h"
#include "transport/serial.h"

namespace {

constexpr int kWarmUpMs = 2000;

double processCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
           usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
}

double threadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

void printResult(const QStringList &pairs) {
    std::printf("%s\n", pairs.join(QLatin1Char(' ')).toLatin1().constData());
    std::fflush(stdout);
}

QString argument(const QStringList &arguments, const QString &name, const QString &fallback = {}) {
    const int at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1] : fallback;
}

// The window the design's floor is measured against: the program's frame without its logic.
class BareWindow : public QMainWindow {
public:
    explicit BareWindow(bool threadPerTick) {
        setCentralWidget(new QChartView);
        resize(620, 515);
        connect(&tick, &QTimer::timeout, this, [this, threadPerTick] {
            if (threadPerTick) {
                worker.wait();
                worker.start();
            }
        });
        tick.start(100);
    }
    ~BareWindow() override { worker.wait(); }

private:
    class ReturnsAtOnce : public QThread {
    protected:
        void run() override {}
    };
    QTimer tick;
    ReturnsAtOnce worker;
};

QWidget *child(QWidget &window, const char *name) {
    return window.findChild<QWidget *>(QLatin1String(name));
}

int measureCpu(int seconds, const std::function<QStringList()> &extra = {}) {
    runEventLoopFor(kWarmUpMs);
    const double cpuBefore = processCpuMs();
    QElapsedTimer wall;
    wall.start();
    const QStringList before = extra ? extra() : QStringList();
    runEventLoopFor(seconds * 1000);
    const double cpu = processCpuMs() - cpuBefore;
    QStringList pairs{QStringLiteral("cpu_ms=%1").arg(cpu, 0, 'f', 2),
                      QStringLiteral("wall_ms=%1").arg(wall.elapsed())};
    if (extra) {
        const QStringList after = extra();
        for (int i = 0; i < after.size(); ++i) {
            const QStringList b = before[i].split(QLatin1Char('='));
            const QStringList a = after[i].split(QLatin1Char('='));
            pairs << QStringLiteral("%1=%2").arg(a[0]).arg(a[1].toDouble() - b[1].toDouble());
        }
    }
    printResult(pairs);
    return 0;
}

int childBare(bool threadPerTick, int seconds) {
    BareWindow window(threadPerTick);
    window.show();
    return measureCpu(seconds);
}

int childProgram(const QStringList &arguments, bool acquire, bool record, int seconds) {
    const QString port = argument(arguments, QStringLiteral("--port"));
    const int baudRate = argument(arguments, QStringLiteral("--baud"), "115200").toInt();
    std::unique_ptr<MainWindow> window = openProgram(port, baudRate, acquire);
    if (!window) {
        printResult({QStringLiteral("error=open")});
        return 1;
    }
    QTemporaryDir folder;
    auto *recording = window->findChild<QAction *>(QStringLiteral("action_record_samples"));
    if (record) {
        const QString path = folder.filePath(QStringLiteral("samples.csv"));
        window->setSaveFileChooser(
            [path](const QString &, const QString &, const QString &) { return path; });
        recording->trigger();
    }
    if (acquire) {
        window->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
        qobject_cast<QLineEdit *>(child(*window, "line_time"))->setText(QStringLiteral("0.1"));
        click(*window, "connect_button_2");
    }
    // Each presentation of a cycle adds its last request's 8 bytes: five requests a cycle.
    const int status = measureCpu(seconds, [] {
        return QStringList{
            QStringLiteral("requests=%1").arg(serialPort->txByteCount.load() / 8 * 5)};
    });
    if (record && !recording->isChecked()) {
        printResult({QStringLiteral("error=recording")});
        return 1;
    }
    return status;
}

// Samples through the real main loop, as fast as the worker's idle runs allow, with the chart
// shown. The chart is repainted for the samples that are measured.
int childSamples() {
    MainWindow window;
    window.show();
    window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    auto *view = window.findChild<QChartView *>(QStringLiteral("graphicsView"));
    runEventLoopFor(300);
    // What a start at the 0.1 s period sets up.
    sampleWindow->running = 1;
    sampleWindow->sampleCount = 0;
    sampleWindow->periodMs = 100;
    sampleWindow->nextTimeS = 0;
    windowCapacity = windowCapacityFor(100);

    // "After N samples": the 200 samples that follow the Nth, each with a chart repaint; the
    // median of their GUI-thread times, so that a stray slow one does not count.
    const int checkpoints[] = {100, 10000, 100000};
    constexpr int kMeasured = 200;
    QStringList pairs;
    std::vector<double> measuredMs;
    const long rssStart = residentKb();
    int checkpoint = 0;
    for (int sample = 1; checkpoint < int(std::size(checkpoints)); ++sample) {
        while (sharedState.workerPhase.load() != WorkerPhase::Finished)
            std::this_thread::yield();
        sharedState.temValue.store(2000 + sample % 500);
        sharedState.humValue.store(4000 + sample % 700);
        sampleWindow->sampleReady.store(1);
        const bool measured = sample > checkpoints[checkpoint];
        const double before = threadCpuMs();
        QMetaObject::invokeMethod(&window, "main_loop", Qt::DirectConnection);
        if (measured) {
            QCoreApplication::processEvents();
            view->viewport()->repaint();
            measuredMs.push_back(threadCpuMs() - before);
        } else if (sample % 64 == 0) {
            QCoreApplication::processEvents();
        }
        if (sample == checkpoints[checkpoint])
            pairs << QStringLiteral("rss_kb_%1=%2").arg(sample).arg(residentKb());
        if (measuredMs.size() == kMeasured) {
            std::sort(measuredMs.begin(), measuredMs.end());
            pairs << QStringLiteral("ms_per_sample_%1=%2")
                         .arg(checkpoints[checkpoint])
                         .arg(measuredMs[kMeasured / 2], 0, 'f', 4);
            measuredMs.clear();
            ++checkpoint;
        }
    }
    pairs << QStringLiteral("rss_kb_start=%1").arg(rssStart);
    printResult(pairs);
    return 0;
}

// An hour of acquisition at the 0.1 s period presents a cycle every 200 ms: 18,000 "Send: "
// and "Receive: " pairs. They go through the real presentation, over a pty.
int childLog() {
    int master = -1;
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        printResult({QStringLiteral("error=openpty")});
        return 1;
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    std::unique_ptr<MainWindow> window = openProgram(QString::fromLocal8Bit(name), 115200, false);
    if (!window) {
        printResult({QStringLiteral("error=open")});
        return 1;
    }
    const QByteArray request = QByteArray::fromHex("010300020001240A");
    const QByteArray reply = QByteArray::fromHex("010302119CF4BD");
    constexpr int kPresentations = 18000;
    runEventLoopFor(300);
    const long rssBefore = residentKb();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < kPresentations; ++i) {
        while (sharedState.workerPhase.load() != WorkerPhase::Finished)
            std::this_thread::yield();
        serialPort->sendData(request);
        if (::write(master, reply.constData(), size_t(reply.size())) != reply.size())
            break;
        char drain[64];
        while (::read(master, drain, sizeof drain) > 0) {
        }
        // A tick may present it first; either way it is presented once.
        if (!waitUntil([&] { return serialPort->rxBufferSnapshot().size() >= reply.size(); }, 2000))
            break;
        (void)serialPort->closeReplyWindow();
        QMetaObject::invokeMethod(window.get(), "main_loop", Qt::DirectConnection);
    }
    runEventLoopFor(300);
    const long rssAfter = residentKb();
    const int lines = window->findChild<QWidget *>(QStringLiteral("textEdit"))
                          ->property("plainText")
                          .toString()
                          .count(QLatin1Char('\n')) +
                      1;
    printResult({QStringLiteral("rss_kb_before=%1").arg(rssBefore),
                 QStringLiteral("rss_kb_after=%1").arg(rssAfter),
                 QStringLiteral("lines=%1").arg(lines),
                 QStringLiteral("wall_ms=%1").arg(wall.elapsed())});
    window.reset();
    ::close(slave);
    ::close(master);
    return 0;
}

// Prints once anything of the window has been painted, then leaves.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(qint64 startedNs) : startedNs(startedNs) {}
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            const qint64 nowNs = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
            printResult(
                {QStringLiteral("painted_ms=%1").arg((nowNs - startedNs) / 1e6, 0, 'f', 1)});
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    qint64 startedNs;
    bool seen = false;
};

// A generic master without a GUI: libmodbus reading one register every 100 ms.
int childModbusPoll(const QStringList &arguments, int seconds) {
    const QByteArray port = argument(arguments, QStringLiteral("--port")).toLocal8Bit();
    modbus_t *context = modbus_new_rtu(port.constData(), 115200, 'N', 8, 1);
    if (context == nullptr || modbus_set_slave(context, 1) != 0 || modbus_connect(context) != 0) {
        printResult({QStringLiteral("error=connect")});
        return 1;
    }
    const auto poll = [context](int forMs) {
        int requests = 0;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < forMs) {
            std::uint16_t value = 0;
            modbus_read_registers(context, 0, 1, &value);
            ++requests;
            QThread::msleep(100);
        }
        return requests;
    };
    poll(kWarmUpMs);
    const double cpuBefore = processCpuMs();
    QElapsedTimer wall;
    wall.start();
    const int requests = poll(seconds * 1000);
    printResult({QStringLiteral("cpu_ms=%1").arg(processCpuMs() - cpuBefore, 0, 'f', 2),
                 QStringLiteral("wall_ms=%1").arg(wall.elapsed()),
                 QStringLiteral("requests=%1").arg(requests)});
    modbus_close(context);
    modbus_free(context);
    return 0;
}

int childStartup(bool program, const QStringList &arguments) {
    FirstPaint watcher(argument(arguments, QStringLiteral("--started-ns")).toLongLong());
    qApp->installEventFilter(&watcher);
    std::unique_ptr<QWidget> window;
    if (program)
        window = std::make_unique<MainWindow>();
    else
        window = std::make_unique<BareWindow>(false);
    window->show();
    return QApplication::exec();
}

}  // namespace

int runChild(const QString &mode, const QStringList &arguments) {
    const int seconds = argument(arguments, QStringLiteral("--cpu-seconds"), "30").toInt();
    if (mode == QLatin1String("bare"))
        return childBare(false, seconds);
    if (mode == QLatin1String("floor"))
        return childBare(true, seconds);
    if (mode == QLatin1String("idle"))
        return childProgram(arguments, false, false, seconds);
    if (mode == QLatin1String("acquire"))
        return childProgram(arguments, true, false, seconds);
    if (mode == QLatin1String("acquire-record"))
        return childProgram(arguments, true, true, seconds);
    if (mode == QLatin1String("samples"))
        return childSamples();
    if (mode == QLatin1String("log"))
        return childLog();
    if (mode == QLatin1String("startup-bare"))
        return childStartup(false, arguments);
    if (mode == QLatin1String("startup-program"))
        return childStartup(true, arguments);
    if (mode == QLatin1String("modbus-poll"))
        return childModbusPoll(arguments, seconds);
    std::fprintf(stderr, "unknown child mode %s\n", qPrintable(mode));
    return 2;
}

double ChildResult::value(const QString &key, double fallback) const {
    for (const QString &pair : pairs) {
        const int equals = pair.indexOf(QLatin1Char('='));
        if (equals > 0 && pair.left(equals) == key)
            return pair.mid(equals + 1).toDouble();
    }
    return fallback;
}

ChildResult runChildProcess(const QString &mode, const QStringList &arguments, int timeoutMs) {
    ChildResult result;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QCoreApplication::applicationFilePath(),
                  QStringList{QStringLiteral("--child"), mode} + arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.error = QStringLiteral("%1 did not finish").arg(mode);
        return result;
    }
    const QStringList lines = QString::fromLatin1(process.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty()) {
        result.error = QStringLiteral("%1 printed nothing").arg(mode);
        return result;
    }
    result.pairs = lines.last().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    result.ok = process.exitCode() == 0 && result.value(QStringLiteral("error"), -1) == -1;
    if (!result.ok)
        result.error = lines.last();
    return result;
}
