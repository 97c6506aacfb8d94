// sensor_simulator: answers Modbus RTU requests like the temperature, humidity and smoke
// sensor, on a pseudo-terminal it creates or on a serial device, and logs every frame.

#include "app/quitonsignal.h"
#include "sim/posixline.h"
#include "sim/simulatedsensor.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kUsageError = 2;
constexpr int kRuntimeError = 1;

void printError(const QString &text) {
    std::fprintf(stderr, "sensor_simulator: %s\n", text.toLocal8Bit().constData());
}

// The wall-clock time at which a steady-clock moment happened, for the log.
QString wallTime(Exchange::Clock::time_point at) {
    const auto ago =
        std::chrono::duration_cast<std::chrono::milliseconds>(Exchange::Clock::now() - at);
    return QDateTime::currentDateTime()
        .addMSecs(-ago.count())
        .toString(QStringLiteral("HH:mm:ss.zzz"));
}

void logExchange(const Exchange &exchange) {
    QString text =
        QStringLiteral("%1 <- %2\n").arg(wallTime(exchange.receivedAt), hexBytes(exchange.request));
    if (exchange.replyChunks.empty()) {
        text += QStringLiteral("             (no reply)  %1\n").arg(exchange.description);
    } else {
        for (std::size_t i = 0; i < exchange.replyChunks.size(); ++i) {
            const auto &chunk = exchange.replyChunks[i];
            text += QStringLiteral("%1 -> %2").arg(wallTime(chunk.sentAt), hexBytes(chunk.bytes));
            if (i + 1 == exchange.replyChunks.size())
                text += QStringLiteral("  %1").arg(exchange.description);
            text += QLatin1Char('\n');
        }
    }
    // One call per exchange keeps lines whole while the main thread also writes.
    std::fputs(text.toLocal8Bit().constData(), stderr);
}

bool parseInt(const QString &text, long min, long max, long *value) {
    bool ok = false;
    const long parsed = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                            ? text.mid(2).toLong(&ok, 16)
                            : text.toLong(&ok, 10);
    if (!ok || parsed < min || parsed > max)
        return false;
    *value = parsed;
    return true;
}

QString faultNames(const QString &separator = QStringLiteral(", ")) {
    QStringList names;
    for (int i = int(Fault::NoReply); i <= int(Fault::OtherAddress); ++i)
        names << QLatin1String(faultName(Fault(i)));
    return names.join(separator);
}

struct Options {
    QString device;
    int baudRate = 9600;
    int address = SensorModel::kDefaultAddress;
    bool lineTiming = false;
    int turnaroundMs = 2;
    int replyDelayMs = 0;
    int uploadIntervalMs = 0;
    std::vector<std::pair<Fault, double>> faultRates;
    std::vector<std::pair<int, std::uint16_t>> presets;
    bool frozen = false;
    bool quiet = false;
    std::uint32_t seed = 1;
};

// Returns an error text, empty when the options are usable.
QString readOptions(const QCommandLineParser &parser, Options *options) {
    long value = 0;
    if (parser.isSet(QStringLiteral("device")))
        options->device = parser.value(QStringLiteral("device"));
    if (parser.isSet(QStringLiteral("baud"))) {
        if (!parseInt(parser.value(QStringLiteral("baud")), 1, 4000000, &value) ||
            !simposix::isSupportedBaudRate(int(value)))
            return QStringLiteral("unsupported baud rate '%1'")
                .arg(parser.value(QStringLiteral("baud")));
        options->baudRate = int(value);
    }
    if (parser.isSet(QStringLiteral("address"))) {
        if (!parseInt(parser.value(QStringLiteral("address")), 1, 249, &value))
            return QStringLiteral("address must be 1 to 249, not '%1'")
                .arg(parser.value(QStringLiteral("address")));
        options->address = int(value);
    }
    options->lineTiming = parser.isSet(QStringLiteral("line-timing"));
    if (parser.isSet(QStringLiteral("turnaround"))) {
        if (!parseInt(parser.value(QStringLiteral("turnaround")), 0, 10000, &value))
            return QStringLiteral("bad turnaround '%1'")
                .arg(parser.value(QStringLiteral("turnaround")));
        options->turnaroundMs = int(value);
    }
    if (parser.isSet(QStringLiteral("reply-delay"))) {
        if (!parseInt(parser.value(QStringLiteral("reply-delay")), 0, 10000, &value))
            return QStringLiteral("bad reply delay '%1'")
                .arg(parser.value(QStringLiteral("reply-delay")));
        options->replyDelayMs = int(value);
    }
    if (parser.isSet(QStringLiteral("upload-interval"))) {
        if (!parseInt(parser.value(QStringLiteral("upload-interval")), 0, 3600000, &value))
            return QStringLiteral("bad upload interval '%1'")
                .arg(parser.value(QStringLiteral("upload-interval")));
        options->uploadIntervalMs = int(value);
    }
    double total = 0.0;
    for (const QString &entry : parser.values(QStringLiteral("fault-rate"))) {
        const int equals = entry.indexOf(QLatin1Char('='));
        const auto fault = faultFromName(entry.left(equals));
        bool ok = false;
        const double probability = equals < 0 ? 0.0 : entry.mid(equals + 1).toDouble(&ok);
        if (equals < 0 || !fault || *fault == Fault::None || *fault == Fault::RawReply)
            return QStringLiteral("bad --fault-rate '%1' (NAME=P, NAME one of %2)")
                .arg(entry, faultNames());
        if (!ok || probability < 0.0 || probability > 1.0)
            return QStringLiteral("bad probability in '%1' (0 to 1)").arg(entry);
        total += probability;
        options->faultRates.emplace_back(*fault, probability);
    }
    if (total > 1.0)
        return QStringLiteral("fault rates add up to more than 1");
    for (const QString &entry : parser.values(QStringLiteral("set"))) {
        const int equals = entry.indexOf(QLatin1Char('='));
        long reg = 0;
        if (equals < 0 || !parseInt(entry.left(equals), 0, 65535, &reg) ||
            !SensorModel::hasRegister(int(reg)) ||
            !parseInt(entry.mid(equals + 1), -32768, 65535, &value))
            return QStringLiteral("bad --set '%1' (REGISTER=VALUE, a register of the sensor)")
                .arg(entry);
        options->presets.emplace_back(int(reg), std::uint16_t(value));
    }
    if (parser.isSet(QStringLiteral("seed"))) {
        if (!parseInt(parser.value(QStringLiteral("seed")), 0, 0xFFFFFFFFL, &value))
            return QStringLiteral("bad seed '%1'").arg(parser.value(QStringLiteral("seed")));
        options->seed = std::uint32_t(value);
    }
    options->frozen = parser.isSet(QStringLiteral("frozen"));
    options->quiet = parser.isSet(QStringLiteral("quiet"));
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments()[0]);
    return {};
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sensor_simulator"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated temperature, humidity and smoke sensor (Modbus RTU slave).\n"
                       "Without --device it creates a pseudo-terminal and prints its path on "
                       "standard output.\nEach frame is logged on standard error: time, "
                       "\"<-\" request, \"->\" reply, what it was.\n"
                       "Faults for --fault-rate (names in any case):\n  ") +
        faultNames(QStringLiteral("\n  ")));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("device"), QStringLiteral("Serve this serial device instead of a pty."),
         QStringLiteral("path")},
        {QStringLiteral("baud"), QStringLiteral("Line speed (default 9600)."),
         QStringLiteral("rate")},
        {QStringLiteral("address"), QStringLiteral("Slave address, 1 to 249 (default 1)."),
         QStringLiteral("n")},
        {QStringLiteral("line-timing"),
         QStringLiteral("Delay replies by their time on the wire plus a turnaround.")},
        {QStringLiteral("turnaround"),
         QStringLiteral("Turnaround for --line-timing in ms (default 2)."), QStringLiteral("ms")},
        {QStringLiteral("reply-delay"),
         QStringLiteral("Start every reply this much later, like a USB adapter's latency timer."),
         QStringLiteral("ms")},
        {QStringLiteral("upload-interval"),
         QStringLiteral("Send temperature and humidity unasked at this interval (upload mode)."),
         QStringLiteral("ms")},
        {QStringLiteral("fault-rate"),
         QStringLiteral("Inject fault NAME into a share P (0 to 1) of the replies; repeatable."),
         QStringLiteral("NAME=P")},
        {QStringLiteral("set"),
         QStringLiteral("Preset a register, e.g. --set 1=-250 (-2.50 C); repeatable."),
         QStringLiteral("REG=VALUE")},
        {QStringLiteral("frozen"), QStringLiteral("Keep the live readings still.")},
        {QStringLiteral("seed"), QStringLiteral("Seed for readings and faults (default 1)."),
         QStringLiteral("n")},
        {QStringLiteral("quiet"), QStringLiteral("Do not log frames.")},
    });
    if (!parser.parse(app.arguments())) {
        printError(parser.errorText() + QStringLiteral(" (see --help)"));
        return kUsageError;
    }
    // Qt's help option also lists --help-all; no Qt option concerns this program, so it prints
    // the same text.
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    // WORKBENCH_VERSION: the project version, from tools/CMakeLists.txt.
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("sensor_simulator %s\n", WORKBENCH_VERSION);
        return 0;
    }
    Options options;
    const QString optionError = readOptions(parser, &options);
    if (!optionError.isEmpty()) {
        printError(optionError + QStringLiteral(" (see --help)"));
        return kUsageError;
    }

    SimulatedSensor sensor(options.seed);
    sensor.model().setAddress(std::uint8_t(options.address));
    sensor.model().setLiveValuesMoving(!options.frozen);
    for (const auto &preset : options.presets)
        sensor.model().setRegister(preset.first, preset.second);
    sensor.setLineTiming(options.lineTiming, options.turnaroundMs);
    sensor.setReplyDelay(options.replyDelayMs);
    sensor.setUploadInterval(options.uploadIntervalMs);
    for (const auto &rate : options.faultRates)
        sensor.setFaultRate(FaultSpec::of(rate.first), rate.second);
    if (!options.quiet)
        sensor.setFrameLogger(logExchange);

    if (!quitOnTerminationSignals(app)) {
        printError(QStringLiteral("cannot install signal handlers"));
        return kRuntimeError;
    }

    QString error;
    const bool opened = options.device.isEmpty()
                            ? sensor.openPty(&error, options.baudRate)
                            : sensor.openDevice(options.device, options.baudRate, &error);
    if (!opened) {
        printError(error);
        return kRuntimeError;
    }
    if (options.device.isEmpty()) {
        std::printf("%s\n", sensor.portPath().toLocal8Bit().constData());
        std::fflush(stdout);
    }
    if (!options.quiet) {
        std::fprintf(stderr, "sensor_simulator: address %d on %s at %d baud%s; Ctrl-C to stop\n",
                     options.address, sensor.portPath().toLocal8Bit().constData(), options.baudRate,
                     options.lineTiming ? ", line timing" : "");
    }

    // A device that goes away (adapter pulled) ends the program with its reason.
    int exitCode = 0;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, &app, [&] {
        if (!sensor.isRunning()) {
            printError(sensor.failure());
            exitCode = kRuntimeError;
            app.quit();
        }
    });
    watchdog.start(200);

    app.exec();
    sensor.stop();
    return exitCode;
}
