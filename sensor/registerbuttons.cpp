#include "sensor/registerbuttons.h"

#include <QLineEdit>
#include <QTextEdit>

#include "sensor/registermap.h"
#include "sensor/sharedstate.h"
#include "sensor/uitext.h"
#include "ui_mainwindow.h"

std::optional<std::uint16_t> acceptedWriteValue(const QString &text, int minimum, int maximum) {
    bool isNumber = false;
    const int value = text.toInt(&isNumber, 10);
    // Text that is no number must not turn into a write of 0.
    if (!isNumber || value < minimum || value > maximum)
        return std::nullopt;
    return std::uint16_t(value);
}

void requestRead(std::uint32_t readCode) {
    postCommand(sharedState, readCode);
}

void requestWrite(MainWindowForm &ui, std::uint32_t writeCode) {
    const RegisterEntry *entry = entryForWriteCode(writeCode);
    if (entry == nullptr)
        return;
    const auto *field = ui.centralwidget->findChild<QLineEdit *>(QLatin1String(entry->lineEdit));
    const QString text = field != nullptr ? field->text() : QString();
    const std::optional<std::uint16_t> value =
        acceptedWriteValue(text, entry->minimum, entry->maximum);
    if (!value) {
        ui.textEdit->append(uiText("写入参数范围错误！"));
        return;
    }
    postWrite(sharedState, writeCode, *value);
}
