#include "sensor/profilesession.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStandardPaths>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>

#include "sensor/profiledialog.h"
#include "sensor/savefile.h"
#include "sensor/sharedstate.h"
#include "sensor/uitext.h"
#include "transport/serial.h"
#include "ui_mainwindow.h"

namespace {

// The form's hint for the baud-rate code: 1 is 2400 ... 6 is 115200.
int baudRateOfCode(std::int32_t code) {
    static const int rates[] = {2400, 4800, 9600, 19200, 38400, 115200};
    return code >= 1 && code <= 6 ? rates[code - 1] : 0;
}

bool goesLast(const RegisterEntry *entry) {
    return entry->writeCode == WriteDeviceAddress || entry->writeCode == WriteBaudRate;
}

QString shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

}  // namespace

ProfileSession::ProfileSession(MainWindowForm &ui, QWidget *window, bool reducedBuild,
                               FileChooser chooseSaveFile, FileChooser chooseOpenFile)
    : ui(ui),
      window(window),
      reducedBuild(reducedBuild),
      chooseSaveFile(std::move(chooseSaveFile)),
      chooseOpenFile(std::move(chooseOpenFile)) {}

ProfileSession::~ProfileSession() {
    if (confirmation)
        confirmation->disconnect(this);
}

void ProfileSession::log(const QString &line) {
    ui.textEdit->append(line);
}

bool ProfileSession::refusesPress() {
    if (phase == Phase::Idle)
        return false;
    log(uiText("参数配置读写进行中，请等待完成后再操作！"));
    return true;
}

bool ProfileSession::portReady() {
    if (!serialPort->isOpen.load()) {
        log(uiText("请先打开串口！"));
        return false;
    }
    if (sharedState.acquisitionOn.load() == 1) {
        log(uiText("请先停止采集！"));
        return false;
    }
    // Requests without a scan go to address 0, where a write reaches every sensor on the bus.
    if (sharedState.slaveAddress.load() == 0) {
        log(uiText("请先扫描传感器！"));
        return false;
    }
    return true;
}

void ProfileSession::save() {
    if (refusesPress() || !portReady())
        return;
    task = Task::Save;
    log(uiText("开始读取参数配置..."));
    startReading(profileRegisters(reducedBuild));
}

void ProfileSession::apply() {
    if (refusesPress() || !portReady())
        return;
    task = Task::Apply;
    phase = Phase::ChoosingFile;
    QString suggested = lastProfile;
    if (suggested.isEmpty())
        suggested = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path =
        chooseOpenFile(uiText("写入参数配置"), suggested, uiText("CSV 文件 (*.csv);;所有文件 (*)"));
    if (path.isEmpty()) {
        finish();
        return;
    }
    lastProfile = path;
    loadAndRead(path);
}

void ProfileSession::loadAndRead(const QString &path) {
    // The port may have gone while the dialog was open.
    if (!portReady()) {
        finish();
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        log(uiText("参数配置文件无法读取：%1（%2）").arg(shown(path), file.errorString()));
        finish();
        return;
    }
    const QByteArray bytes = file.read(kMaxProfileFileBytes + 1);
    const ProfileFile profile = readProfileFile(bytes, reducedBuild, captions());
    if (!profile.problem.isEmpty()) {
        log(uiText("参数配置文件有误，未写入任何寄存器：%1：%2").arg(shown(path), profile.problem));
        finish();
        return;
    }
    if (!profile.skipped.empty())
        log(uiText("本程序没有以下寄存器，已跳过：%1").arg(namesOf(profile.skipped)));
    if (profile.values.empty()) {
        log(uiText("参数配置里没有本程序的寄存器，未写入任何寄存器"));
        finish();
        return;
    }
    wanted = profile.values;
    std::vector<const RegisterEntry *> entries;
    for (const ProfileValue &value : wanted)
        entries.push_back(value.entry);
    log(uiText("读取传感器当前参数..."));
    startReading(entries);
}

void ProfileSession::startReading(const std::vector<const RegisterEntry *> &entries) {
    readValues.clear();
    readFailures.clear();
    steps.clear();
    for (std::size_t i = 0; i < entries.size(); ++i)
        steps.push_back({entries[i], false, i});
    phase = Phase::Reading;
}

void ProfileSession::jobPresented(std::uint8_t resultCode) {
    if (phase != Phase::Reading && phase != Phase::Writing)
        return;
    if (!serialPort->isOpen.load()) {
        portClosed();
        return;
    }
    if (posted) {
        const std::optional<bool> outcome = outcomeFor(postedCode, resultCode);
        if (!outcome)
            return;  // the run that takes it up has not come yet
        const Step step = *posted;
        posted.reset();
        postedCode = 0;
        stepDone(step, *outcome);
    }
    if (phase != Phase::Reading && phase != Phase::Writing)
        return;
    if (steps.empty()) {
        if (phase == Phase::Reading)
            readingDone();
        else
            report();
        return;
    }
    // A post made before this session began gets its run first.
    const std::uint32_t pending = sharedState.commandCode.load();
    if (pending != Idle && pending != 0)
        return;
    post(steps.front());
    steps.pop_front();
}

void ProfileSession::post(const Step &step) {
    const RegisterEntry &entry = *step.entry;
    if (step.write) {
        Change &change = changes[step.change];
        change.tried = true;
        postedCode = entry.writeCode;
        postWrite(sharedState, postedCode, std::uint16_t(change.value));
    } else {
        postedCode = entry.readCode;
        postCommand(sharedState, postedCode);
    }
    posted = step;
}

void ProfileSession::stepDone(const Step &step, bool ok) {
    const std::int32_t value = step.entry->field.load(sharedState);
    if (phase == Phase::Reading) {
        if (ok)
            readValues[step.entry] = value;
        else
            readFailures.push_back(step.entry);
        return;
    }
    Change &change = changes[step.change];
    if (step.write) {
        change.echoed = ok;
        return;
    }
    change.readBackOk = ok;
    if (ok)
        change.readBack = value;
    if (!change.done())
        steps.clear();  // the rest stays as it is
}

void ProfileSession::readingDone() {
    if (!readFailures.empty()) {
        if (task == Task::Save)
            log(uiText("参数配置未保存，读取失败的寄存器：%1").arg(namesOf(readFailures)));
        else
            log(uiText("读取当前参数失败，未写入任何寄存器：%1").arg(namesOf(readFailures)));
        finish();
        return;
    }
    // Dialogs run event loops of their own: not from inside the main loop's tick.
    if (task == Task::Save) {
        phase = Phase::ChoosingFile;
        QTimer::singleShot(0, this, &ProfileSession::chooseFileAndSave);
    } else {
        phase = Phase::Confirming;
        QTimer::singleShot(0, this, &ProfileSession::confirm);
    }
}

void ProfileSession::chooseFileAndSave() {
    std::vector<ProfileValue> values;
    for (const RegisterEntry *entry : profileRegisters(reducedBuild))
        values.push_back({entry, readValues.at(entry)});
    const QByteArray bytes = profileFileBytes(values, captions());
    const QString stem = QStringLiteral("sensor-profile-%1").arg(sharedState.slaveAddress.load());
    const QString path =
        chooseSaveFile(uiText("保存参数配置"),
                       suggestedSavePath(stem, QStringLiteral("csv"), QDateTime::currentDateTime()),
                       uiText("CSV 文件 (*.csv)"));
    if (!path.isEmpty()) {
        QString reason;
        if (saveWholeFile(path, bytes, &reason)) {
            lastProfile = path;
            log(uiText("参数配置已保存：%1").arg(shown(path)));
        } else {
            log(uiText("参数配置保存失败：%1（%2）").arg(shown(path), reason));
        }
    }
    finish();
}

void ProfileSession::confirm() {
    if (phase != Phase::Confirming)
        return;
    std::vector<ConfirmationRow> rows;
    for (const ProfileValue &value : wanted)
        rows.push_back(
            {captionOf(*value.entry), readValues.at(value.entry), value.value, value.entry->guard});
    confirmation =
        std::make_unique<ProfileConfirmation>(rows, sharedState.slaveAddress.load(), window);
    connect(confirmation.get(), &QDialog::finished, this, &ProfileSession::confirmed);
    confirmation->open();
}

void ProfileSession::confirmed(int result) {
    if (!confirmation)
        return;
    // Deleted once its signal has been delivered.
    ProfileConfirmation *dialog = confirmation.release();
    dialog->deleteLater();
    if (phase != Phase::Confirming)
        return;
    if (result != QDialog::Accepted) {
        log(uiText("已取消写入参数配置，未写入任何寄存器"));
        finish();
        return;
    }
    changes.clear();
    for (std::size_t row = 0; row < wanted.size(); ++row) {
        const ProfileValue &value = wanted[row];
        if (!dialog->isTicked(int(row)) || readValues.at(value.entry) == value.value)
            continue;
        Change change;
        change.entry = value.entry;
        change.value = value.value;
        changes.push_back(change);
    }
    // The address, then the baud rate: after either the sensor answers elsewhere.
    std::stable_partition(changes.begin(), changes.end(),
                          [](const Change &change) { return !goesLast(change.entry); });
    if (changes.empty()) {
        report();
        return;
    }
    log(uiText("开始写入参数配置（共 %1 项）...").arg(changes.size()));
    steps.clear();
    for (std::size_t i = 0; i < changes.size(); ++i) {
        steps.push_back({changes[i].entry, true, i});
        steps.push_back({changes[i].entry, false, i});
    }
    phase = Phase::Writing;
}

void ProfileSession::portClosed() {
    portLost(uiText("串口已关闭，参数配置读写已中止"));
}

void ProfileSession::portReleased() {
    portLost(uiText("串口已断开，参数配置读写已中止"));
}

void ProfileSession::portLost(const QString &line) {
    if (phase == Phase::Idle || phase == Phase::ChoosingFile)
        return;
    // A post the worker has not taken would go out once the port opens again.
    if (posted && withdrawCommand(sharedState, postedCode))
        posted.reset();
    log(line);
    if (phase == Phase::Writing) {
        lostPort = true;
        steps.clear();
        report();
        return;
    }
    finish();
    if (confirmation)
        confirmation->reject();
}

QString ProfileSession::failureReason(const Change &change) const {
    if (!change.tried)
        return lostPort ? uiText("读写已中止") : uiText("前面一项失败，已停止");
    if (!change.echoed)
        return uiText("读写已中止，写入未确认");
    if (!change.readBackOk)
        return uiText("读写已中止，未能读回");
    if (!*change.echoed) {
        return *change.readBackOk ? uiText("传感器未确认写入，读回 %1").arg(*change.readBack)
                                  : uiText("传感器未确认写入，也未能读回");
    }
    if (!*change.readBackOk)
        return uiText("写入后未能读回");
    return uiText("读回 %1，与写入的 %2 不符").arg(*change.readBack).arg(change.value);
}

void ProfileSession::report() {
    int succeeded = 0;
    int failed = 0;
    for (const Change &change : changes) {
        if (change.done()) {
            ++succeeded;
            continue;
        }
        ++failed;
        const QString line = change.tried ? uiText("写入失败：%1，%2") : uiText("未写入：%1，%2");
        log(line.arg(registerName(*change.entry, captions()), failureReason(change)));
    }
    log(uiText("参数配置写入完成：成功 %1 项，失败 %2 项").arg(succeeded).arg(failed));
    for (const Change &change : changes) {
        if (change.entry->writeCode == WriteBaudRate && change.echoed == true)
            log(uiText("波特率编码已写入 %1：请以 %2 波特率重新打开串口")
                    .arg(change.value)
                    .arg(baudRateOfCode(change.value)));
    }
    finish();
}

void ProfileSession::finish() {
    task = Task::None;
    phase = Phase::Idle;
    steps.clear();
    posted.reset();
    postedCode = 0;
    wanted.clear();
    changes.clear();
    lostPort = false;
}

QString ProfileSession::captionOf(const RegisterEntry &entry) const {
    const auto *label = ui.centralwidget->findChild<QLabel *>(QLatin1String(entry.caption));
    return label != nullptr ? captionFromLabel(label->text()) : QString::number(entry.address);
}

CaptionOf ProfileSession::captions() const {
    return [this](const RegisterEntry &entry) { return captionOf(entry); };
}

QString ProfileSession::namesOf(const std::vector<const RegisterEntry *> &entries) const {
    QStringList names;
    for (const RegisterEntry *entry : entries)
        names << registerName(*entry, captions());
    return names.join(uiText("、"));
}
