#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/mainwindow.h"
#include "sensor/profilefile.h"

class ProfileConfirmation;
class QWidget;

// Saving a sensor's configuration to a file and writing a file to the next sensor. Every
// register goes through the worker as its own button would send it: one request per tick,
// posted when the main loop has presented the last one, with the same codes, the same log
// lines and the same entry fields. While a save or an apply runs it holds the command slot.
//
// An apply checks the whole file before anything goes on the bus, reads the sensor's values,
// asks, then writes the ticked rows that differ, each followed by a read of that register; the
// device address and the baud-rate code go last. It stops at the first register that does not
// read back as written: what is left stays as it was, and a second apply writes only what still
// differs.
class ProfileSession : public QObject {
    Q_OBJECT

public:
    using FileChooser = std::function<QString(const QString &caption, const QString &suggested,
                                              const QString &filter)>;

    ProfileSession(MainWindowForm &ui, QWidget *window, bool reducedBuild,
                   FileChooser chooseSaveFile, FileChooser chooseOpenFile);
    ~ProfileSession() override;

    void save();
    void apply();
    // For each job the main loop presented, before the worker restarts: takes the outcome of
    // the request this session posted and posts the next one.
    void jobPresented(std::uint8_t resultCode);
    // The port was closed by the operator, or let go after the line hung up: a save or an
    // apply in progress ends here.
    void portClosed();
    void portReleased();
    // A register or scan button, or the start of acquisition: true, with a log line, while a
    // save or an apply runs, since a press would take the slot from it.
    bool refusesPress();

private:
    enum class Task { None, Save, Apply };
    enum class Phase { Idle, Reading, ChoosingFile, Confirming, Writing };
    struct Step {
        const RegisterEntry *entry;
        bool write;          // else a read
        std::size_t change;  // which of `changes` a write or its read-back belongs to
    };
    struct Change {
        const RegisterEntry *entry = nullptr;
        std::int32_t value = 0;
        bool tried = false;
        std::optional<bool> echoed;  // the write's outcome, once presented
        std::optional<bool> readBackOk;
        std::optional<std::int32_t> readBack;
        bool done() const { return echoed == true && readBack == value; }
    };

    bool portReady();
    void portLost(const QString &line);
    void startReading(const std::vector<const RegisterEntry *> &entries);
    void post(const Step &step);
    void stepDone(const Step &step, bool ok);
    void readingDone();
    void chooseFileAndSave();
    void loadAndRead(const QString &path);
    void confirm();
    void confirmed(int result);
    void report();
    void finish();
    QString captionOf(const RegisterEntry &entry) const;
    CaptionOf captions() const;
    QString namesOf(const std::vector<const RegisterEntry *> &entries) const;
    QString failureReason(const Change &change) const;
    void log(const QString &line);

    MainWindowForm &ui;
    QWidget *window;
    const bool reducedBuild;
    FileChooser chooseSaveFile;
    FileChooser chooseOpenFile;

    Task task = Task::None;
    Phase phase = Phase::Idle;
    std::deque<Step> steps;
    std::optional<Step> posted;
    std::uint32_t postedCode = 0;
    std::map<const RegisterEntry *, std::int32_t> readValues;
    std::vector<const RegisterEntry *> readFailures;
    std::vector<ProfileValue> wanted;
    std::vector<Change> changes;
    bool lostPort = false;
    std::unique_ptr<ProfileConfirmation> confirmation;
    // Offered by the next apply's file dialog: the profile last saved or chosen in this run.
    QString lastProfile;
};
