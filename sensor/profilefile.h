#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "sensor/registermap.h"

// A sensor's configuration as a file a person may edit in a spreadsheet: one line for each
// configuration register, with its address, its caption and its value. Nothing here touches
// the window or the bus.

struct ProfileValue {
    const RegisterEntry *entry;
    std::int32_t value;
};

// The configuration registers of a window, in the order of its form; the reduced window lacks
// the smoke output group.
std::vector<const RegisterEntry *> profileRegisters(bool reducedBuild);

// What the file and the log call a register: its caption on the form ("上传时间").
using CaptionOf = std::function<QString(const RegisterEntry &)>;
// A caption label's text without its blanks and colon: " 上传时间：" is "上传时间".
QString captionFromLabel(const QString &labelText);
// "上传时间（106）"
QString registerName(const RegisterEntry &entry, const CaptionOf &captionOf);

// UTF-8 with a byte-order mark (so that spreadsheets show the Chinese), the header
// 寄存器,名称,值, one line per value, CR LF.
QByteArray profileFileBytes(const std::vector<ProfileValue> &values, const CaptionOf &captionOf);

// Larger files are no profile of this program and are not read whole.
constexpr qint64 kMaxProfileFileBytes = 64 * 1024;

// A file checked whole. When problem is empty every value names a register of the map that this
// program writes, once, with an integer within the write buttons' bounds; values then holds
// them in the order of the form and skipped the rows for registers this program lacks. When
// problem is not empty it says, for the log, what is wrong and where, and values is empty.
struct ProfileFile {
    std::vector<ProfileValue> values;
    std::vector<const RegisterEntry *> skipped;
    QString problem;
};
// Takes what a spreadsheet saves as well as what profileFileBytes() writes: with or without the
// byte-order mark, CR LF or LF, quoted or not, commas or semicolons, blank lines and empty
// trailing cells. The name column is for people; the register column decides.
ProfileFile readProfileFile(const QByteArray &bytes, bool reducedBuild, const CaptionOf &captionOf);
