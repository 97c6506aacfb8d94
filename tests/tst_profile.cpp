// The profile file without a window: what the program writes, what it reads back from a
// spreadsheet, and the files it refuses whole.
#include <QtTest>

#include "sensor/profilefile.h"

namespace {

QString caption(const RegisterEntry &entry) {
    return QStringLiteral("R%1").arg(entry.address);
}

const RegisterEntry &entryAt(int address) {
    for (const RegisterEntry &entry : kRegisterMap) {
        if (entry.address == address && entry.caption != nullptr)
            return entry;
    }
    qFatal("no register %d", address);
}

// "106=600 108=-150", in the order given.
QString listed(const std::vector<ProfileValue> &values) {
    QStringList items;
    for (const ProfileValue &value : values)
        items << QStringLiteral("%1=%2").arg(value.entry->address).arg(value.value);
    return items.join(QLatin1Char(' '));
}

QString listed(const std::vector<const RegisterEntry *> &entries) {
    QStringList items;
    for (const RegisterEntry *entry : entries)
        items << QString::number(entry->address);
    return items.join(QLatin1Char(' '));
}

const QByteArray kWritten = QByteArrayLiteral(
    "\xEF\xBB\xBF寄存器,名称,值\r\n106,R106,600\r\n108,R108,-150\r\n117,R117,9000\r\n");

}  // namespace

class ProfileFileTest : public QObject {
    Q_OBJECT

private slots:
    void writesWhatSpreadsheetsOpen();
    void readsWhatSpreadsheetsSave_data();
    void readsWhatSpreadsheetsSave();
    void refusesTheWholeFile_data();
    void refusesTheWholeFile();
};

void ProfileFileTest::writesWhatSpreadsheetsOpen() {
    const std::vector<ProfileValue> values{
        {&entryAt(106), 600}, {&entryAt(108), -150}, {&entryAt(117), 9000}};
    QCOMPARE(profileFileBytes(values, caption), kWritten);
}

void ProfileFileTest::readsWhatSpreadsheetsSave_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("reducedBuild");
    QTest::addColumn<QString>("values");  // in the order of the form
    QTest::addColumn<QString>("skipped");
    QTest::newRow("as written") << kWritten << false << "106=600 108=-150 117=9000"
                                << "";
    QTest::newRow("reduced build skips the smoke output rows")
        << kWritten << true << "106=600 108=-150"
        << "117";
    QTest::newRow("no mark, LF, rows in another order")
        << QByteArray("寄存器,名称,值\n117,R117,9000\n108,R108,-150\n106,R106,600") << false
        << "106=600 108=-150 117=9000"
        << "";
    QTest::newRow("quoted, padded, blank lines, empty trailing cells")
        << QByteArray(
               "\"寄存器\",\"名称\",\"值\",,\r\n\r\n\"106\", \"上传,\"\"时间\"\"\",\" 600 \",,"
               "\r\n,,,,\r\n")
        << false << "106=600"
        << "";
    QTest::newRow("semicolons, a plus sign, another name")
        << QByteArray("寄存器;名称;值\r\n106;烟雾报警值;+600\r\n") << false << "106=600"
        << "";
}

void ProfileFileTest::readsWhatSpreadsheetsSave() {
    QFETCH(QByteArray, file);
    QFETCH(bool, reducedBuild);
    QFETCH(QString, values);
    QFETCH(QString, skipped);
    const ProfileFile profile = readProfileFile(file, reducedBuild, caption);
    QCOMPARE(profile.problem, QString());
    QCOMPARE(listed(profile.values), values);
    QCOMPARE(listed(profile.skipped), skipped);
}

void ProfileFileTest::refusesTheWholeFile_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("problem");
    const QByteArray header = "寄存器,名称,值\r\n111,R111,600\r\n";
    QTest::newRow("empty") << QByteArray() << "文件是空的";
    QTest::newRow("a mark and blank lines") << QByteArray("\xEF\xBB\xBF\r\n \r\n") << "文件是空的";
    QTest::newRow("a picture") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                               << "文件不是 UTF-8 编码的 CSV 文本（电子表格中请另存为 CSV UTF-8）";
    QTest::newRow("the local code page")
        << QByteArray(
               "\xbc\xc4\xb4\xe6\xc6\xf7,\xc3\xfb\xb3\xc6,"
               "\xd6\xb5\r\n106,a,600\r\n")
        << "文件不是 UTF-8 编码的 CSV 文本（电子表格中请另存为 CSV "
           "UTF-8）";
    QTest::newRow("a sample recording")
        << QByteArray("时间,记录时长(s),温度(℃),湿度(RH%),烟雾(PPM),报警状态位,烟雾AD值\r\n")
        << "第 1 行，不是本程序的参数配置（表头应为“寄存器,名称,值”）";
    QTest::newRow("header only") << QByteArray("寄存器,名称,值\r\n") << "文件里没有寄存器行";
    QTest::newRow("too large") << header + QByteArray(70 * 1024, '\n')
                               << "文件太大，不是参数配置文件";
    QTest::newRow("duplicate register") << header + "108,R108,1\r\n111,R111,700\r\n"
                                        << "第 4 行，R111（111）与第 2 行重复";
    QTest::newRow("a fraction") << header + "108,R108,12.5\r\n"
                                << "第 3 行，R108（108）的值“12.5”不是整数";
    QTest::newRow("no value") << header + "108,R108,\r\n"
                              << "第 3 行，R108（108）没有值";
    QTest::newRow("above the range") << header + "106,R106,99999\r\n"
                                     << "第 3 行，R106（106）的值 99999 超出范围 0 至 35999";
    QTest::newRow("below the range") << header + "108,R108,-1001\r\n"
                                     << "第 3 行，R108（108）的值 -1001 超出范围 -1000 至 1000";
    QTest::newRow("beyond 64 bits")
        << header + "108,R108,99999999999999999999\r\n"
        << "第 3 行，R108（108）的值 99999999999999999999 超出范围 -1000 至 1000";
    QTest::newRow("a register the sensor lacks") << header + "200,R200,1\r\n"
                                                 << "第 3 行，寄存器 200 不是本传感器的参数寄存器";
    QTest::newRow("a live value") << header + "1,温度,2500\r\n"
                                  << "第 3 行，寄存器 1 不是本传感器的参数寄存器";
    QTest::newRow("no register") << header + "上传时间,R106,600\r\n"
                                 << "第 3 行，寄存器“上传时间”不是寄存器地址";
    QTest::newRow("four columns") << header + "108,R108,1,note\r\n"
                                  << "第 3 行，应有 3 列（寄存器,名称,值），实有 4 列";
    QTest::newRow("an unclosed quote") << header + "108,\"R108,1\r\n"
                                       << "第 3 行，引号不成对";
    QTest::newRow("text after a quote") << header + "108,\"R\"108,1\r\n"
                                        << "第 3 行，引号不成对";
}

void ProfileFileTest::refusesTheWholeFile() {
    QFETCH(QByteArray, file);
    QFETCH(QString, problem);
    for (const bool reducedBuild : {false, true}) {
        const ProfileFile profile = readProfileFile(file, reducedBuild, caption);
        QCOMPARE(profile.problem, problem);
        QVERIFY(profile.values.empty() && profile.skipped.empty());
    }
}

QTEST_APPLESS_MAIN(ProfileFileTest)
#include "tst_profile.moc"
