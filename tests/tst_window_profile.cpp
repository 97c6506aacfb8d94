// Profiles through the window of both variants against the simulated sensor: saved from one
// sensor, written to the next, checked whole, confirmed, read back; what a fault, a press or a
// lost port in between does.
#include <QAction>
#include <QDialog>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

#include "app/mainwindow.h"
#include "sensor/sharedstate.h"
#include "support/ops_session.h"
#include "transport/serial.h"

Q_DECLARE_METATYPE(FaultSpec)

namespace {

// The configuration registers in the order of the form, as the file names them, with the
// values of two sensors; leftAlone: unticked by default.
struct Register {
    int reg;
    const char *name;
    int first;
    int second;
    bool leftAlone;
    bool smokeOutput;
    const char *field;
};

const Register kRegisters[] = {
    {100, "型号编码", 8455, 8456, true, false, "lineEdit_serial_number"},
    {102, "设备地址", 1, 2, true, false, "lineEdit_device_address"},
    {104, "通讯模式", 1, 2, true, false, "lineEdit_communication_mode"},
    {101, "测点总数", 3, 4, false, false, "lineEdit_test_amount"},
    {103, "波特率", 3, 5, true, false, "lineEdit_baud_rate"},
    {105, "协议类型", 1, 2, true, false, "lineEdit_protocol_type"},
    {106, "上传时间", 600, 10, false, false, "lineEdit_update_time"},
    {108, "温度偏移值", -150, 25, false, false, "lineEdit_tem_offset_value"},
    {109, "湿度偏移值", -2000, 300, false, false, "lineEdit_hum_offset_value"},
    {107, "烟雾偏移值", 1000, 0, false, false, "lineEdit_smoke_offset"},
    {111, "烟雾报警值", 450, 300, false, false, "lineEdit_smoke_warning"},
    {114, "AD最小值", 400, 350, false, false, "line_edit_ad_min"},
    {113, "AD最大值", 4096, 3600, false, false, "line_edit_ad_max"},
    {116, "RANGE最小值", 10, 0, false, false, "line_range_min"},
    {115, "RANGE最大值", 5000, 1000, false, false, "line_edit_range_max"},
    {255, "信号输出类型", 2, 0, false, false, "line_edit_output_change"},
    {118, "电压PWM最小值", 100, 0, false, true, "line_edit_smoke_v_min"},
    {117, "电压PWM最大值", 9000, 1000, false, true, "line_edit_smoke_v_max"},
    {120, "电流PWM最小值", 200, 150, false, true, "line_edit_smoke_c_min"},
    {119, "电流PWM最大值", 10000, 1000, false, true, "line_edit_smoke_c_max"},
};

// The reads of a profile are many: at this rate a reply has 70 ms to be taken up, which a
// loaded machine leaves it, where 15 ms at 115200 baud lose one now and then. The busy window
// test runs at 115200 baud, where it loses some on purpose.
constexpr int kBaudRate = 9600;

bool inThisProgram(const Register &entry) {
    return !(kReducedWindow && entry.smokeOutput);
}

void setSensor(SensorModel &model, bool second) {
    for (const Register &entry : kRegisters)
        model.setRegister(entry.reg, std::uint16_t(second ? entry.second : entry.first));
}

// The requests the sensor saw, oldest first: "r106" a read, "w106" a write, "s" a scan.
QString requests(const SimulatedSensor &sensor) {
    QStringList seen;
    for (const Exchange &exchange : sensor.exchanges()) {
        const QByteArray &frame = exchange.request;
        const int reg = std::uint8_t(frame[2]) << 8 | std::uint8_t(frame[3]);
        seen << (std::uint8_t(frame[0]) == SensorModel::kScanAddress ? QStringLiteral("s")
                 : frame[1] == 0x06 ? QStringLiteral("w%1").arg(reg)
                                    : QStringLiteral("r%1").arg(reg));
    }
    return seen.join(QLatin1Char(' '));
}

QByteArray rawReadReply(std::uint16_t value) {
    return withCrc(QByteArray::fromHex("010302") + QByteArray(1, char(value >> 8)) +
                   QByteArray(1, char(value & 0xFF)));
}

const QByteArray kHeader = "寄存器,名称,值\r\n";
const QByteArray kThreeRows =
    kHeader + "106,上传时间,600\r\n108,温度偏移值,-150\r\n111,烟雾报警值,450\r\n";
const QString kReading = QStringLiteral("读取传感器当前参数...");
const QString kWritingThree = QStringLiteral("开始写入参数配置（共 3 项）...");
const QString kBusy = QStringLiteral("参数配置读写进行中，请等待完成后再操作！");

}  // namespace

class ProfileTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    // A failed test may leave a profile running: the next one starts afresh.
    void cleanup() {
        if (QTest::currentTestFailed())
            session.reset();
    }
    void cleanupTestCase() { session.reset(); }

    void theTabOffersTheActions_data();
    void theTabOffersTheActions();
    void refusedUntilTheBusIsFree_data();
    void refusedUntilTheBusIsFree();
    void savedFromOneSensorAppliedToTheNext();
    void failedReadSavesNothing_data();
    void failedReadSavesNothing();
    void apply_data();
    void apply();
    void aBusyWindowNeverShowsAWriteDoneThatIsNot();
    void pressesDuringAnApplyAreRefused();
    // The last row hangs the sensor up; init() builds a new session after it.
    void portLostDuringAnApply_data();
    void portLostDuringAnApply();

private:
    MainWindow &window() { return static_cast<MainWindow &>(session->window()); }
    void trigger(const char *action) { window().findChild<QAction *>(action)->trigger(); }
    // Accepts what the file dialogs offer, and notes it.
    void acceptOfferedFiles(const QString &savePath) {
        offeredSave.clear();
        offeredOpen.clear();
        window().setSaveFileChooser(
            [this, savePath](const QString &, const QString &offered, const QString &) {
                offeredSave = offered;
                return savePath;
            });
        window().setOpenFileChooser([this](const QString &, const QString &offered,
                                           const QString &) { return offeredOpen = offered; });
    }
    QString applyFile(const QByteArray &bytes) {
        const QString path = folder.filePath(QStringLiteral("profile.csv"));
        QFile file(path);
        if (!bytes.isNull() && file.open(QIODevice::WriteOnly))
            file.write(bytes);
        else
            file.remove();
        window().setOpenFileChooser(
            [path](const QString &, const QString &, const QString &) { return path; });
        return path;
    }
    QDialog *confirmation() {
        return window().findChild<QDialog *>(QStringLiteral("profile_confirmation"));
    }
    QTreeWidget *confirmationRows() {
        QDialog *dialog = confirmation();
        return dialog ? dialog->findChild<QTreeWidget *>(QStringLiteral("profile_rows")) : nullptr;
    }
    // Waits for the confirmation of the apply whose lines begin at `first`; when it does not
    // come, says what the log shows instead.
    bool confirmationOpens(int first) {
        if (session->waitUntil([this] { return confirmation() && confirmation()->isVisible(); },
                               10000))
            return true;
        qWarning().noquote() << "no confirmation; the log shows:\n" +
                                    profileLines(first).join('\n');
        return false;
    }
    // Waits for the confirmation and answers it from the keyboard.
    void answer(int first, Qt::Key key, bool tickAll = false) {
        QVERIFY(confirmationOpens(first));
        for (int i = 0; tickAll && i < confirmationRows()->topLevelItemCount(); ++i)
            if (confirmationRows()->topLevelItem(i)->flags() & Qt::ItemIsUserCheckable)
                confirmationRows()->topLevelItem(i)->setCheckState(0, Qt::Checked);
        QWidget *focus = confirmation()->focusWidget();
        QTest::keyClick(focus ? focus : confirmation(), key);
    }
    // The log from `first` on, without the frames and the lines of each button's result.
    QStringList profileLines(int first) const {
        static const QRegularExpression ownLines(
            "^(?!Send: |Receive: |(读取|写入|获取)(成功|失败)！$|请改变波特率)");
        return session->logLinesFrom(first).filter(ownLines);
    }

    // Waits for the line; when it does not come, says what the log shows instead.
    bool sawLine(const QString &line, int first, int timeoutMs = 5000) {
        const auto waitBegan = Exchange::Clock::now();
        if (session->waitUntil([&] { return session->logLines().indexOf(line, first) >= 0; },
                               timeoutMs))
            return true;
        qWarning().noquote() << "no" << line << "within" << timeoutMs
                             << "ms in:\n" + profileLines(first).join('\n')
                             << "\n" + session->whatCame(waitBegan);
        return false;
    }

    std::unique_ptr<OpsSession> session;
    QTemporaryDir folder;
    QString offeredSave;
    QString offeredOpen;
};

void ProfileTest::initTestCase() {
    QVERIFY(folder.isValid());
}

void ProfileTest::init() {
    if (!session || !session->sensor().isRunning()) {
        session.reset();
        session = std::make_unique<OpsSession>([] { return new MainWindow; });
    }
    QVERIFY(session->isValid());
    session->click("scan_button_2");
    setSensor(session->sensor().model(), true);
    if (!serialPort->isOpen.load())
        QVERIFY(session->openPort(kBaudRate));
    const int first = session->logLineCount();
    session->click("scan_button");
    QVERIFY(sawLine(QStringLiteral("获取成功！"), first));
    QVERIFY(session->waitForIdleWorker());
    session->sensor().clearFaultQueue();
    session->sensor().clearExchanges();
    acceptOfferedFiles(folder.filePath(QStringLiteral("saved.csv")));
}

void ProfileTest::theTabOffersTheActions_data() {
    QTest::addColumn<QString>("widget");
    for (const char *name : {"tab", "groupBox_7", "groupBox_5", "groupBox_6", "label_55"})
        QTest::newRow(name) << name;
}

void ProfileTest::theTabOffersTheActions() {
    QFETCH(QString, widget);
    QCOMPARE(contextMenuEntries(*window().findChild<QWidget *>(widget), QPoint(5, 5)),
             (QStringList{"action_save_profile", "action_apply_profile"}));
    QCOMPARE(window().findChild<QAction *>("action_save_profile")->text(), "保存参数配置…");
    QCOMPARE(window().findChild<QAction *>("action_apply_profile")->text(), "写入参数配置…");
}

void ProfileTest::refusedUntilTheBusIsFree_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("pressedBefore");
    QTest::addColumn<QString>("line");
    for (const char *action : {"action_save_profile", "action_apply_profile"}) {
        QTest::addRow("%s, acquiring", action) << action << "connect_button_2"
                                               << "请先停止采集！";
        QTest::addRow("%s, port closed", action) << action << "connect_button"
                                                 << "请先打开串口！";
        QTest::addRow("%s, no sensor found", action) << action << "scan_button"
                                                     << "请先扫描传感器！";
    }
}

void ProfileTest::refusedUntilTheBusIsFree() {
    QFETCH(QString, action);
    QFETCH(QString, pressedBefore);
    QFETCH(QString, line);
    if (pressedBefore == "scan_button")  // which finds nothing
        session->sensor().queueFault(FaultSpec::of(Fault::NoReply));
    session->click(pressedBefore.toLatin1());
    session->waitTicks(3);
    const int first = session->logLineCount();
    session->sensor().clearExchanges();
    trigger(action.toLatin1());
    session->waitTicks(3);
    session->click("scan_button_2");
    QCOMPARE(profileLines(first), (QStringList{line, "停止采集..."}));
    QVERIFY(offeredSave.isEmpty() && offeredOpen.isEmpty());
    // Only the acquisition cycle's reads.
    const QStringList cycleReads{"r0", "r1", "r2", "r3", "r112"};
    for (const QString &request : requests(session->sensor()).split(' ', Qt::SkipEmptyParts))
        QVERIFY2(cycleReads.contains(request), qPrintable(request));
}

void ProfileTest::savedFromOneSensorAppliedToTheNext() {
    SimulatedSensor &sensor = session->sensor();
    setSensor(sensor.model(), false);
    int first = session->logLineCount();
    session->click("scan_button");
    QVERIFY(sawLine(QStringLiteral("获取成功！"), first));
    QVERIFY(session->waitForIdleWorker());
    sensor.clearExchanges();
    const QString saved = folder.filePath(QStringLiteral("saved.csv"));
    first = session->logLineCount();

    trigger("action_save_profile");
    QVERIFY(sawLine("参数配置已保存：" + saved, first, 10000));

    QVERIFY2(offeredInDocuments(offeredSave, "sensor-profile-1-\\d{8}-\\d{6}\\.csv"),
             qPrintable(offeredSave));
    QByteArray expected = "\xEF\xBB\xBF" + kHeader;
    QStringList reads;
    int read = 0;
    for (const Register &entry : kRegisters) {
        if (!inThisProgram(entry))
            continue;
        expected +=
            QStringLiteral("%1,%2,%3\r\n").arg(entry.reg).arg(entry.name).arg(entry.first).toUtf8();
        reads << (entry.reg == 102 ? QStringLiteral("s") : QStringLiteral("r%1").arg(entry.reg));
        // Each field as its own read button leaves it.
        QCOMPARE(session->text(entry.field), QString::number(entry.first));
        ++read;
    }
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
    QCOMPARE(requests(sensor), reads.join(' '));
    const QStringList lines = session->logLinesFrom(first);
    QCOMPARE(lines.count("读取成功！") + lines.count("获取成功！"), read);
    QCOMPARE(profileLines(first), (QStringList{"开始读取参数配置...", "参数配置已保存：" + saved}));

    // The next sensor: scan, apply, Enter on the offered file, Enter on the confirmation.
    setSensor(sensor.model(), true);
    first = session->logLineCount();
    session->click("scan_button");
    QVERIFY(sawLine(QStringLiteral("获取成功！"), first));
    QVERIFY(session->waitForIdleWorker());
    sensor.clearExchanges();
    first = session->logLineCount();
    trigger("action_apply_profile");
    QCOMPARE(offeredOpen, saved);
    QVERIFY(confirmationOpens(first));
    QStringList writes;
    for (int i = 0, row = 0; i < int(std::size(kRegisters)); ++i) {
        const Register &entry = kRegisters[i];
        if (!inThisProgram(entry))
            continue;
        const bool ticked = confirmationRows()->topLevelItem(row++)->checkState(0) == Qt::Checked;
        QCOMPARE(ticked, !entry.leftAlone);
        if (ticked)
            writes << QStringLiteral("w%1 r%1").arg(entry.reg);
    }
    answer(first, Qt::Key_Return);
    const QString summary =
        QStringLiteral("参数配置写入完成：成功 %1 项，失败 0 项").arg(writes.size());
    QVERIFY(sawLine(summary, first, 20000));

    QCOMPARE(requests(sensor), (reads + writes).join(' '));
    QCOMPARE(
        profileLines(first),
        (QStringList{kReading, QStringLiteral("开始写入参数配置（共 %1 项）...").arg(writes.size()),
                     summary}));
    for (const Register &entry : kRegisters) {
        const bool written = inThisProgram(entry) && !entry.leftAlone;
        QCOMPARE(std::int16_t(*sensor.model().registerValue(entry.reg)),
                 std::int16_t(written ? entry.first : entry.second));
    }
}

void ProfileTest::failedReadSavesNothing_data() {
    QTest::addColumn<int>("failing");  // the index of the read that gets no reply
    QTest::addColumn<QString>("name");
    QTest::newRow("the first") << 0 << "型号编码（100）";
    QTest::newRow("the last") << (kReducedWindow ? 15 : 19)
                              << (kReducedWindow ? "信号输出类型（255）" : "电流PWM最大值（119）");
}

void ProfileTest::failedReadSavesNothing() {
    QFETCH(int, failing);
    QFETCH(QString, name);
    for (int i = 0; i <= failing; ++i)
        session->sensor().queueFault(FaultSpec::of(i == failing ? Fault::NoReply : Fault::None));
    const int first = session->logLineCount();
    trigger("action_save_profile");
    const QString line = "参数配置未保存，读取失败的寄存器：" + name;
    QVERIFY(sawLine(line, first, 10000));
    QCOMPARE(profileLines(first), (QStringList{"开始读取参数配置...", line}));
    QVERIFY(offeredSave.isEmpty());
}

void ProfileTest::apply_data() {
    QTest::addColumn<QByteArray>("file");  // null: no file
    QTest::addColumn<int>("faultAt");      // index of the first request that gets the fault
    QTest::addColumn<int>("faultCount");
    QTest::addColumn<FaultSpec>("fault");
    QTest::addColumn<int>("key");  // 0: no confirmation comes
    QTest::addColumn<bool>("tickAll");
    QTest::addColumn<QString>("requests");
    QTest::addColumn<QStringList>("lines");  // %1 is the file
    const QString reads = "r106 r108 r111 ";
    const QString refused = "参数配置文件有误，未写入任何寄存器：%1：";
    const QString notWritten = "未写入：%1，前面一项失败，已停止";
    const FaultSpec none;
    QTest::newRow("written and read back")
        << kThreeRows << -1 << 0 << none << int(Qt::Key_Return) << false
        << reads + "w106 r106 w108 r108 w111 r111"
        << QStringList{kReading, kWritingThree, "参数配置写入完成：成功 3 项，失败 0 项"};
    QTest::newRow("cancelled") << kThreeRows << -1 << 0 << none << int(Qt::Key_Escape) << false
                               << "r106 r108 r111"
                               << QStringList{kReading, "已取消写入参数配置，未写入任何寄存器"};
    QTest::newRow("no such file") << QByteArray() << -1 << 0 << none << 0 << false << ""
                                  << QStringList{
                                         "参数配置文件无法读取：%1（No such file or directory）"};
    QTest::newRow("a value out of range")
        << kHeader + "108,温度偏移值,-150\r\n106,上传时间,99999\r\n"
        << -1 << 0 << none << 0 << false << ""
        << QStringList{refused + "第 3 行，上传时间（106）的值 99999 超出范围 0 至 35999"};
    QTest::newRow("another program's file")
        << QByteArray("时间,记录时长(s),温度(℃),湿度(RH%),烟雾(PPM),报警状态位,烟雾AD值\r\n") << -1
        << 0 << none << 0 << false << ""
        << QStringList{refused + "第 1 行，不是本程序的参数配置（表头应为“寄存器,名称,值”）"};
    QTest::newRow("a read fails") << kThreeRows << 1 << 1 << FaultSpec::of(Fault::NoReply) << 0
                                  << false << "r106 r108 r111"
                                  << QStringList{
                                         kReading,
                                         "读取当前参数失败，未写入任何寄存器：温度偏移值（108）"};
    QTest::newRow("read back differs")
        << kThreeRows << 4 << 1 << FaultSpec::raw(rawReadReply(601)) << int(Qt::Key_Return) << false
        << reads + "w106 r106"
        << QStringList{kReading,
                       kWritingThree,
                       "写入失败：上传时间（106），读回 601，与写入的 600 不符",
                       notWritten.arg("温度偏移值（108）"),
                       notWritten.arg("烟雾报警值（111）"),
                       "参数配置写入完成：成功 0 项，失败 3 项"};
    QTest::newRow("write not echoed")
        << kThreeRows << 3 << 1 << FaultSpec::of(Fault::WrongEcho) << int(Qt::Key_Return) << false
        << reads + "w106 r106"
        << QStringList{kReading,
                       kWritingThree,
                       "写入失败：上传时间（106），传感器未确认写入，读回 600",
                       notWritten.arg("温度偏移值（108）"),
                       notWritten.arg("烟雾报警值（111）"),
                       "参数配置写入完成：成功 0 项，失败 3 项"};
    QTest::newRow("the sensor stops answering")
        << kThreeRows << 5 << 2 << FaultSpec::of(Fault::NoReply) << int(Qt::Key_Return) << false
        << reads + "w106 r106 w108 r108"
        << QStringList{
               kReading, kWritingThree, "写入失败：温度偏移值（108），传感器未确认写入，也未能读回",
               notWritten.arg("烟雾报警值（111）"), "参数配置写入完成：成功 1 项，失败 2 项"};
    QTest::newRow("address and baud rate last, when ticked")
        << kHeader + "103,波特率,6\r\n102,设备地址,3\r\n106,上传时间,600\r\n"
        << -1 << 0 << none << int(Qt::Key_Return) << true
        << "s r103 r106 w106 r106 w102 s w103 r103"
        << QStringList{kReading, kWritingThree, "参数配置写入完成：成功 3 项，失败 0 项",
                       "波特率编码已写入 6：请以 115200 波特率重新打开串口"};
    const QByteArray smokeOutput = kHeader + "117,电压PWM最大值,9000\r\n106,上传时间,600\r\n";
    if (kReducedWindow)
        QTest::newRow("smoke output rows")
            << smokeOutput << -1 << 0 << none << int(Qt::Key_Return) << false << "r106 w106 r106"
            << QStringList{"本程序没有以下寄存器，已跳过：电压PWM最大值（117）", kReading,
                           "开始写入参数配置（共 1 项）...",
                           "参数配置写入完成：成功 1 项，失败 0 项"};
    else
        QTest::newRow("smoke output rows")
            << smokeOutput << -1 << 0 << none << int(Qt::Key_Return) << false
            << "r106 r117 w106 r106 w117 r117"
            << QStringList{kReading, "开始写入参数配置（共 2 项）...",
                           "参数配置写入完成：成功 2 项，失败 0 项"};
}

void ProfileTest::apply() {
    QFETCH(QByteArray, file);
    QFETCH(int, faultAt);
    QFETCH(int, faultCount);
    QFETCH(FaultSpec, fault);
    QFETCH(int, key);
    QFETCH(bool, tickAll);
    QFETCH(QString, requests);
    QFETCH(QStringList, lines);
    const QString path = applyFile(file);
    for (QString &line : lines)
        line.replace(QLatin1String("%1"), path);
    for (int i = 0; i < faultAt + faultCount; ++i)
        session->sensor().queueFault(i < faultAt ? FaultSpec() : fault);
    const int first = session->logLineCount();

    trigger("action_apply_profile");
    if (key != 0)
        answer(first, Qt::Key(key), tickAll);
    QVERIFY(sawLine(lines.last(), first, 20000));
    session->waitTicks(2);

    QCOMPARE(profileLines(first), lines);
    QCOMPARE(::requests(session->sensor()), requests);
    QVERIFY(!confirmation());
}

void ProfileTest::aBusyWindowNeverShowsAWriteDoneThatIsNot() {
    // A reply that lands while the window is busy is lost: reads and writes fail now and then,
    // and a second apply writes what the first left.
    session->click("connect_button");
    QVERIFY(session->openPort(115200));
    const BusyWindow busy;
    SimulatedSensor &sensor = session->sensor();
    applyFile(kThreeRows);
    const QRegularExpression summary("^参数配置写入完成：成功 (\\d) 项，失败 (\\d) 项$");
    bool allWritten = false;
    for (int attempt = 0; attempt < 20 && !allWritten; ++attempt) {
        QVERIFY(session->waitForIdleWorker());
        sensor.clearExchanges();
        const int first = session->logLineCount();
        trigger("action_apply_profile");
        QVERIFY(session->waitUntil([&] { return confirmation() || profileLines(first).size() > 1; },
                                   10000));
        if (!confirmation())
            continue;  // a read failed: nothing written
        answer(first, Qt::Key_Return);
        QVERIFY(session->waitUntil(
            [&] { return !session->logLinesFrom(first).filter(summary).isEmpty(); }, 20000));
        const QStringList lines = profileLines(first);
        const QRegularExpressionMatch counts = summary.match(lines.last());
        QCOMPARE(lines.filter(QRegularExpression("^(写入失败|未写入)：")).size(),
                 counts.captured(2).toInt());
        // Each write is followed by a read of its register, and what is done is on the sensor.
        const QStringList seen = ::requests(sensor).split(' ');
        for (int i = 0; i < seen.size(); ++i)
            QVERIFY(!seen[i].startsWith('w') || seen.value(i + 1) == 'r' + seen[i].mid(1));
        for (const auto &[reg, name, value] : {std::tuple{106, "上传时间（106）", 600},
                                               {108, "温度偏移值（108）", -150},
                                               {111, "烟雾报警值（111）", 450}}) {
            const bool failed = !lines.filter(QString::fromUtf8(name)).isEmpty();
            QVERIFY(failed || std::int16_t(*sensor.model().registerValue(reg)) == value);
        }
        allWritten = counts.captured(2) == "0";
    }
    QVERIFY(allWritten);
    session->click("connect_button");
}

void ProfileTest::pressesDuringAnApplyAreRefused() {
    applyFile(kThreeRows);
    const int first = session->logLineCount();
    trigger("action_apply_profile");
    answer(first, Qt::Key_Return);
    QVERIFY(sawLine(kWritingThree, first));

    for (const char *button :
         {"read_update_time", "write_tem_offset", "scan_button", "connect_button_2"})
        session->click(button);
    trigger("action_apply_profile");
    trigger("action_save_profile");
    const QString summary = QStringLiteral("参数配置写入完成：成功 3 项，失败 0 项");
    QVERIFY(sawLine(summary, first, 20000));

    QCOMPARE(profileLines(first), (QStringList{kReading, kWritingThree, kBusy, kBusy, kBusy, kBusy,
                                               kBusy, kBusy, summary}));
    QCOMPARE(requests(session->sensor()), "r106 r108 r111 w106 r106 w108 r108 w111 r111");
    // Free again.
    const int after = session->logLineCount();
    session->click("read_update_time");
    QVERIFY(sawLine(QStringLiteral("读取成功！"), after));
}

void ProfileTest::portLostDuringAnApply_data() {
    QTest::addColumn<bool>("hangUp");
    QTest::addColumn<QString>("lostAfter");  // the requests up to the loss
    QTest::addColumn<QStringList>("lines");  // from the loss on
    const QStringList closed{"关闭串口！", "停止采集...", "串口已关闭，参数配置读写已中止"};
    const QString notWritten = "未写入：%1，读写已中止";
    const QStringList duringSecondWrite{"写入失败：温度偏移值（108），读写已中止，写入未确认",
                                        notWritten.arg("烟雾报警值（111）"),
                                        "参数配置写入完成：成功 1 项，失败 2 项"};
    QTest::newRow("closed while a write waits for its echo")
        << false << "r106 r108 r111 w106 r106 w108" << closed + duringSecondWrite;
    QTest::newRow("closed while a write is read back")
        << false << "r106 r108 r111 w106 r106"
        << closed + QStringList{"写入失败：上传时间（106），读写已中止，未能读回",
                                notWritten.arg("温度偏移值（108）"),
                                notWritten.arg("烟雾报警值（111）"),
                                "参数配置写入完成：成功 0 项，失败 3 项"};
    QTest::newRow("the sensor hangs up")
        << true << "r106 r108 r111 w106 r106 w108"
        << QStringList{"串口已断开，请关闭后重新打开", "串口已断开，参数配置读写已中止"} +
               duringSecondWrite;
}

void ProfileTest::portLostDuringAnApply() {
    QFETCH(bool, hangUp);
    QFETCH(QString, lostAfter);
    QFETCH(QStringList, lines);
    applyFile(kThreeRows);
    const int first = session->logLineCount();
    trigger("action_apply_profile");
    answer(first, Qt::Key_Return);
    QVERIFY(session->waitUntil([&] { return requests(session->sensor()) == lostAfter; }, 10000));
    if (hangUp)
        session->sensor().hangUp();
    else
        session->click("connect_button");
    QVERIFY(sawLine(lines.last(), first, 10000));

    QCOMPARE(profileLines(first), (QStringList{kReading, kWritingThree} + lines));
    if (!hangUp) {  // nothing left to go out once the port is open again
        QVERIFY(session->openPort(kBaudRate));
        session->waitTicks(3);
    }
    QCOMPARE(requests(session->sensor()), lostAfter);
}

QTEST_MAIN(ProfileTest)
#include "tst_window_profile.moc"
