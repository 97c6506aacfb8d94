#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <cstdint>

struct SharedState;

// One acquisition sample as the chart presents it: the registers of the cycle as read, and
// which of those reads succeeded (CycleRead bits).
struct CycleSample {
    std::int32_t smoke = 0;
    std::int32_t temperature = 0;  // signed hundredths in the low 16 bits
    std::int32_t humidity = 0;
    std::int32_t alarmStatus = 0;
    std::int32_t smokeAd = 0;
    std::uint8_t readsOk = 0;
};
CycleSample cycleSampleFrom(const SharedState &state);

// The file's header and one line for a sample, RFC 4180 with CRLF, UTF-8, '.' as the decimal
// point whatever the locale. A value whose read failed is an empty cell.
QByteArray csvHeader();
QByteArray csvLine(const QDateTime &at, qint64 elapsedMs, const CycleSample &sample);

// Records presented samples to a CSV file, one line each, handed to the disk as it is written
// so that a crash or a power cut loses at most the line being written. A failure stops the
// recording; errorString() then says why, in the system's words.
class SampleRecorder {
public:
    SampleRecorder() = default;
    SampleRecorder(const SampleRecorder &) = delete;
    SampleRecorder &operator=(const SampleRecorder &) = delete;

    // Creates (or empties) the file and writes the header; the clock of the second column
    // starts here.
    bool start(const QString &path);
    // Appends the sample; false when the line could not be kept, and recording has stopped.
    bool record(const CycleSample &sample);
    void stop();

    bool isRecording() const { return file.isOpen(); }
    QString fileName() const { return file.fileName(); }
    QString errorString() const { return error; }

private:
    bool writeLine(const QByteArray &line);
    bool fail(const QString &reason);

    QFile file;
    QByteArray nativePath;
    QElapsedTimer clock;
    QString error;
};
