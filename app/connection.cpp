#include "app/connection.h"

#include <QComboBox>
#include <QPushButton>
#include <QTextEdit>

#include "sensor/uitext.h"
#include "transport/serial.h"
#include "ui_mainwindow.h"

std::uint8_t replyWaitForBaudRate(int baudRate) {
    return std::uint8_t(5.0 / (double(baudRate) / 115200.0) + 10.0);
}

void openFromForm(MainWindowForm &ui, Serial &serial) {
    const int baudRate = ui.baud_rate->currentText().toInt();
    if (serial.openPort(ui.com_port->currentText(), baudRate)) {
        serial.replyWaitMs = replyWaitForBaudRate(ui.baud_rate->currentText().toInt());
        ui.textEdit->append(uiText("串口打开成功！"));
        serial.isOpen = true;
        ui.connect_button->setText(uiText("关闭串口"));
        serial.takeLastSent();
        serial.takeLastReceived();
    } else {
        ui.textEdit->append(uiText("串口打开失败！"));
        serial.replyWaitMs = kReplyWaitWhenClosed;
    }
    serial.rxByteCount = 0;
    serial.txByteCount = 0;
}

void beginClosing(MainWindowForm &ui) {
    ui.connect_button->setText(uiText("打开串口"));
    ui.textEdit->append(uiText("关闭串口！"));
}

void finishClosing(Serial &serial) {
    serial.closePort();
    serial.isOpen = false;
    serial.replyWaitMs = kReplyWaitWhenClosed;
}

void reportReleasedPort(MainWindowForm &ui) {
    ui.textEdit->append(uiText("串口已断开，请关闭后重新打开"));
}

void showPortNames(MainWindowForm &ui, const QStringList &names) {
    ui.com_port->clear();
    ui.com_port->addItems(names);
}
