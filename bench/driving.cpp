#include "bench/driving.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextEdit>
#include <QTimer>

#include "app/mainwindow.h"
#include "sensor/sharedstate.h"
#include "transport/serial.h"

namespace {

QWidget *child(QWidget &window, const char *name) {
    return window.findChild<QWidget *>(QLatin1String(name));
}

}  // namespace

void runEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void click(QWidget &window, const char *button) {
    if (auto *widget = qobject_cast<QAbstractButton *>(child(window, button)))
        widget->click();
}

bool logHasLine(QWidget &window, const QString &line) {
    auto *log = qobject_cast<QTextEdit *>(child(window, "textEdit"));
    return log != nullptr && log->toPlainText().split(QLatin1Char('\n')).contains(line);
}

std::unique_ptr<MainWindow> openProgram(const QString &port, int baudRate, bool scan) {
    auto window = std::make_unique<MainWindow>();
    window->show();
    // The first ticks fill the port selector from the system; the pty goes in after them.
    runEventLoopFor(300);
    auto *ports = qobject_cast<QComboBox *>(child(*window, "com_port"));
    auto *baudRates = qobject_cast<QComboBox *>(child(*window, "baud_rate"));
    ports->addItem(port);
    ports->setCurrentIndex(ports->count() - 1);
    baudRates->setCurrentIndex(baudRates->findText(QString::number(baudRate)));
    click(*window, "connect_button");
    if (!serialPort->isOpen.load())
        return nullptr;
    if (scan) {
        click(*window, "scan_button");
        if (!waitUntil([&] { return logHasLine(*window, QStringLiteral("获取成功！")); }, 5000))
            return nullptr;
    }
    return window;
}
