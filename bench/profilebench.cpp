#include "bench/profilebench.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTreeWidget>

#include <chrono>
#include <cmath>
#include <memory>

#include "app/connection.h"
#include "app/mainwindow.h"
#include "bench/driving.h"
#include "rtu/rtumaster.h"
#include "sensor/profilefile.h"
#include "sensor/sharedstate.h"
#include "sim/simulatedsensor.h"
#include "transport/mytimer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTickMs = 100;
constexpr int kRequestBytes = 8;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The sensor's values before an apply (each register's minimum) and the profile's (its
// maximum): every register differs. The address moves by one, the baud-rate code to the
// port's own, so that the sensor stays on the line.
struct Values {
    std::vector<ProfileValue> before;
    std::vector<ProfileValue> wanted;
};

Values valuesFor(int baudRate) {
    Values values;
    for (const RegisterEntry *entry : profileRegisters(false)) {
        int before = entry->minimum;
        int wanted = entry->maximum;
        if (entry->writeCode == WriteDeviceAddress) {
            before = 1;
            wanted = 2;
        } else if (entry->writeCode == WriteBaudRate) {
            before = 5;
            wanted = baudRate == 115200 ? 6 : 3;
        }
        values.before.push_back({entry, before});
        values.wanted.push_back({entry, wanted});
    }
    return values;
}

void putOnSensor(SensorModel &model, const std::vector<ProfileValue> &values) {
    for (const ProfileValue &value : values)
        model.setRegister(value.entry->address, std::uint16_t(value.value));
}

// Ticks the design's schedule gives a request that keeps the worker busy for `busyMs`: it is
// taken up by the run a tick starts and presented by the first tick after that run ends, which
// posts the next.
int ticksFor(double busyMs) {
    return int(std::floor(busyMs / kTickMs)) + 1;
}

int linesLike(QWidget &window, const QString &line) {
    const auto *log = window.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    return int(log->toPlainText().split(QLatin1Char('\n')).count(line));
}

// Triggers the action right after the next tick, once the tick's own slots have run, and notes
// when.
void triggerAfterTick(QAction *action, Clock::time_point *at) {
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(
        tickTimer, &MyTimer::handleTimeout, action,
        [action, at, connection] {
            QObject::disconnect(*connection);
            *at = Clock::now();
            action->trigger();
        },
        Qt::QueuedConnection);
}

}  // namespace

std::vector<ResultRow> runProfileBench(int baudRate, int repeats) {
    const QString at = QStringLiteral(" at %1 baud").arg(baudRate);
    std::vector<ResultRow> rows;
    const auto failed = [&](const char *what) {
        rows.push_back({QStringLiteral("profile: %1 failed").arg(QLatin1String(what)) + at, 0,
                        QString(), QStringLiteral("–"), 0, QStringLiteral("works"), false});
        return rows;
    };

    resetSharedState();
    SimulatedSensor sensor;
    QTemporaryDir folder;
    if (!folder.isValid() || !sensor.openPty(nullptr, baudRate))
        return failed("setting up");
    sensor.model().setLiveValuesMoving(false);
    sensor.setLineTiming(true);
    const Values values = valuesFor(baudRate);
    putOnSensor(sensor.model(), values.before);
    std::unique_ptr<MainWindow> window = openProgram(sensor.portPath(), baudRate, true);
    if (!window)
        return failed("opening");

    const int registers = int(values.wanted.size());
    const double frameMs = kRequestBytes * 10 * 1000.0 / baudRate;
    const int readTicks = ticksFor(frameMs + replyWaitForBaudRate(baudRate));
    const int writeTicks = ticksFor(frameMs + RtuMaster::kWriteReplyWaitMs);
    // The first request waits for the tick after the action; an apply's first write for the tick
    // after the confirmation.
    const double saveScheduleMs = (1 + registers * readTicks) * kTickMs;
    const double applyScheduleMs =
        (1 + registers * readTicks + 1 + registers * (writeTicks + readTicks)) * kTickMs;

    // Save: from the action to the file dialog, every register read.
    std::vector<double> saves;
    Clock::time_point savedAt;
    const QString savedPath = QDir(folder.path()).filePath(QStringLiteral("saved.csv"));
    window->setSaveFileChooser([&](const QString &, const QString &, const QString &) {
        savedAt = Clock::now();
        return savedPath;
    });
    auto *save = window->findChild<QAction *>(QStringLiteral("action_save_profile"));
    for (int i = 0; i < repeats; ++i) {
        std::fprintf(stderr, "  profile save %d of %d at %d baud...\n", i + 1, repeats, baudRate);
        savedAt = {};
        const QString savedLine = QStringLiteral("参数配置已保存：") + savedPath;
        const int before = linesLike(*window, savedLine);
        Clock::time_point start;
        triggerAfterTick(save, &start);
        const bool saved = waitUntil([&] { return linesLike(*window, savedLine) > before; }, 10000);
        if (!saved || savedAt == Clock::time_point{})
            return failed("save");
        saves.push_back(msBetween(start, savedAt));
        QFile::remove(savedPath);
    }

    // Apply: every register read, all ticked and confirmed at once, written and read back; the
    // moment the confirmation is open is not counted.
    const QString profilePath = QDir(folder.path()).filePath(QStringLiteral("profile.csv"));
    QFile profile(profilePath);
    if (!profile.open(QIODevice::WriteOnly) ||
        profile.write(profileFileBytes(values.wanted, [](const RegisterEntry &entry) {
            return QString::number(entry.address);
        })) < 0)
        return failed("writing the profile");
    profile.close();
    window->setOpenFileChooser(
        [&](const QString &, const QString &, const QString &) { return profilePath; });
    auto *apply = window->findChild<QAction *>(QStringLiteral("action_apply_profile"));
    const QString summary =
        QStringLiteral("参数配置写入完成：成功 %1 项，失败 0 项").arg(registers);
    std::vector<double> applies;
    for (int i = 0; i < repeats; ++i) {
        std::fprintf(stderr, "  profile apply %d of %d at %d baud...\n", i + 1, repeats, baudRate);
        // Back to the line the round starts on.
        putOnSensor(sensor.model(), values.before);
        click(*window, "scan_button");
        runEventLoopFor(500);
        if (sharedState.slaveAddress.load() != 1)
            return failed("scan");
        const int before = linesLike(*window, summary);
        Clock::time_point start;
        triggerAfterTick(apply, &start);
        QDialog *dialog = nullptr;
        if (!waitUntil(
                [&] {
                    dialog = window->findChild<QDialog *>(QStringLiteral("profile_confirmation"));
                    return dialog != nullptr && dialog->isVisible();
                },
                10000))
            return failed("apply's reads");
        const Clock::time_point asked = Clock::now();
        auto *table = dialog->findChild<QTreeWidget *>(QStringLiteral("profile_rows"));
        for (int row = 0; row < table->topLevelItemCount(); ++row)
            table->topLevelItem(row)->setCheckState(0, Qt::Checked);
        dialog->accept();
        const Clock::time_point answered = Clock::now();
        if (!waitUntil([&] { return linesLike(*window, summary) > before; }, 30000))
            return failed("apply's writes");
        const Clock::time_point done = Clock::now();
        applies.push_back(msBetween(start, asked) + msBetween(answered, done));
    }
    window.reset();

    const Summary saveTimes = summarize(saves);
    const Summary applyTimes = summarize(applies);
    const QString saveSchedule =
        QStringLiteral("design's schedule (%1 reads, one a tick)").arg(registers);
    const QString applySchedule =
        QStringLiteral("design's schedule (%1 reads, %1 writes of %2 ticks each read back)")
            .arg(registers)
            .arg(writeTicks);
    const bool onSchedule = std::abs(saveTimes.median - saveScheduleMs) < kTickMs / 2.0;
    rows.push_back({QStringLiteral("profile save, all %1 registers, median of %2")
                            .arg(registers)
                            .arg(repeats) +
                        at,
                    saveTimes.median, QStringLiteral("ms"), saveSchedule, saveScheduleMs,
                    QStringLiteral("= schedule"), onSchedule});
    rows.push_back({QStringLiteral("profile save, longest") + at, saveTimes.max,
                    QStringLiteral("ms"), saveSchedule, saveScheduleMs, QString(), true});
    rows.push_back({QStringLiteral("profile apply, all %1 registers, median of %2")
                            .arg(registers)
                            .arg(repeats) +
                        at,
                    applyTimes.median, QStringLiteral("ms"), applySchedule, applyScheduleMs,
                    QStringLiteral("= schedule"),
                    std::abs(applyTimes.median - applyScheduleMs) < kTickMs / 2.0});
    rows.push_back({QStringLiteral("profile apply, longest") + at, applyTimes.max,
                    QStringLiteral("ms"), applySchedule, applyScheduleMs, QString(), true});
    return rows;
}
