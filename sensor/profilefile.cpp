#include "sensor/profilefile.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <map>

#include "sensor/csv.h"
#include "sensor/uitext.h"

namespace {

const char *const kHeader[] = {"寄存器", "名称", "值"};
constexpr int kColumns = 3;

bool isConfigurationRegister(const RegisterEntry &entry) {
    return entry.caption != nullptr && entry.writeCode != 0;
}

const RegisterEntry *configurationRegisterAt(int address) {
    for (const RegisterEntry &entry : kRegisterMap) {
        if (isConfigurationRegister(entry) && entry.address == address)
            return &entry;
    }
    return nullptr;
}

int formRank(const RegisterEntry *entry) {
    return int(entry - kRegisterMap);
}

// The cells of a record, blanks around them dropped, and empty cells beyond the third, which
// spreadsheets add when any row of the sheet is longer.
QStringList cellsOf(const QStringList &record) {
    QStringList cells;
    for (const QString &field : record)
        cells << field.trimmed();
    while (cells.size() > kColumns && cells.last().isEmpty())
        cells.removeLast();
    return cells;
}

bool isBlank(const QStringList &cells) {
    return std::all_of(cells.begin(), cells.end(),
                       [](const QString &cell) { return cell.isEmpty(); });
}

bool isHeader(const QStringList &cells) {
    if (cells.size() != kColumns)
        return false;
    for (int i = 0; i < kColumns; ++i) {
        if (cells[i] != uiText(kHeader[i]))
            return false;
    }
    return true;
}

QChar separatorOf(const QString &text) {
    const QString firstLine = text.section(QLatin1Char('\n'), 0, 0);
    const bool semicolons =
        firstLine.contains(QLatin1Char(';')) && !firstLine.contains(QLatin1Char(','));
    return semicolons ? QLatin1Char(';') : QLatin1Char(',');
}

}  // namespace

std::vector<const RegisterEntry *> profileRegisters(bool reducedBuild) {
    std::vector<const RegisterEntry *> entries;
    for (const RegisterEntry &entry : kRegisterMap) {
        if (isConfigurationRegister(entry) && (entry.inReducedBuild || !reducedBuild))
            entries.push_back(&entry);
    }
    return entries;
}

QString captionFromLabel(const QString &labelText) {
    QString caption = labelText.trimmed();
    while (caption.endsWith(QChar(0xFF1A)) || caption.endsWith(QLatin1Char(':')))
        caption.chop(1);
    return caption.trimmed();
}

QString registerName(const RegisterEntry &entry, const CaptionOf &captionOf) {
    return uiText("%1（%2）").arg(captionOf(entry)).arg(entry.address);
}

QByteArray profileFileBytes(const std::vector<ProfileValue> &values, const CaptionOf &captionOf) {
    QByteArray bytes = kUtf8ByteOrderMark;
    bytes += csvRecord({uiText(kHeader[0]), uiText(kHeader[1]), uiText(kHeader[2])});
    for (const ProfileValue &value : values) {
        bytes += csvRecord({QString::number(value.entry->address), captionOf(*value.entry),
                            QString::number(value.value)});
    }
    return bytes;
}

ProfileFile readProfileFile(const QByteArray &bytes, bool reducedBuild,
                            const CaptionOf &captionOf) {
    ProfileFile file;
    const auto refuse = [&file](const QString &problem) {
        file.values.clear();
        file.skipped.clear();
        file.problem = problem;
        return file;
    };
    if (bytes.size() > kMaxProfileFileBytes)
        return refuse(uiText("文件太大，不是参数配置文件"));
    const QByteArray body =
        bytes.startsWith(kUtf8ByteOrderMark) ? bytes.mid(kUtf8ByteOrderMark.size()) : bytes;
    if (body.trimmed().isEmpty())
        return refuse(uiText("文件是空的"));
    // Invalid UTF-8 (a spreadsheet's local code page, a picture) does not come back the same.
    const QString text = QString::fromUtf8(body);
    if (text.toUtf8() != body)
        return refuse(uiText("文件不是 UTF-8 编码的 CSV 文本（电子表格中请另存为 CSV UTF-8）"));
    const CsvRecords csv = parseCsv(text, separatorOf(text));
    if (csv.badRecord != 0)
        return refuse(uiText("第 %1 行，引号不成对").arg(csv.badRecord));

    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    bool headerSeen = false;
    std::map<int, int> rowOfAddress;
    for (int index = 0; index < csv.records.size(); ++index) {
        const int row = index + 1;
        const QStringList cells = cellsOf(csv.records[index]);
        if (isBlank(cells))
            continue;
        if (!headerSeen) {
            if (!isHeader(cells))
                return refuse(
                    uiText("第 %1 行，不是本程序的参数配置（表头应为“寄存器,名称,值”）").arg(row));
            headerSeen = true;
            continue;
        }
        if (cells.size() != kColumns)
            return refuse(uiText("第 %1 行，应有 3 列（寄存器,名称,值），实有 %2 列")
                              .arg(row)
                              .arg(cells.size()));
        const QString &registerCell = cells[0];
        const QString &valueCell = cells[2];
        if (!digits.match(registerCell).hasMatch())
            return refuse(uiText("第 %1 行，寄存器“%2”不是寄存器地址").arg(row).arg(registerCell));
        const RegisterEntry *entry = configurationRegisterAt(registerCell.toInt());
        if (entry == nullptr)
            return refuse(
                uiText("第 %1 行，寄存器 %2 不是本传感器的参数寄存器").arg(row).arg(registerCell));
        const QString name = registerName(*entry, captionOf);
        const auto [earlier, first] = rowOfAddress.emplace(entry->address, row);
        if (!first)
            return refuse(
                uiText("第 %1 行，%2与第 %3 行重复").arg(row).arg(name).arg(earlier->second));
        if (valueCell.isEmpty())
            return refuse(uiText("第 %1 行，%2没有值").arg(row).arg(name));
        if (!integer.match(valueCell).hasMatch())
            return refuse(uiText("第 %1 行，%2的值“%3”不是整数").arg(row).arg(name, valueCell));
        bool fits = false;
        const qint64 value = valueCell.toLongLong(&fits);
        if (!fits || value < entry->minimum || value > entry->maximum)
            return refuse(uiText("第 %1 行，%2的值 %3 超出范围 %4 至 %5")
                              .arg(row)
                              .arg(name, valueCell)
                              .arg(entry->minimum)
                              .arg(entry->maximum));
        if (reducedBuild && !entry->inReducedBuild)
            file.skipped.push_back(entry);
        else
            file.values.push_back({entry, std::int32_t(value)});
    }
    if (file.values.empty() && file.skipped.empty())
        return refuse(headerSeen ? uiText("文件里没有寄存器行")
                                 : uiText("不是本程序的参数配置（表头应为“寄存器,名称,值”）"));
    const auto inFormOrder = [](const auto &a, const auto &b) {
        return formRank(a.entry) < formRank(b.entry);
    };
    std::sort(file.values.begin(), file.values.end(), inFormOrder);
    std::sort(file.skipped.begin(), file.skipped.end(),
              [](const RegisterEntry *a, const RegisterEntry *b) { return a < b; });
    return file;
}
