// Renders the README's pictures of the real main window:
//
//   take_screenshots [OUTPUT_DIRECTORY]        (default docs/screenshots)
//
// tab-settings.png, tab-chart.png and tab-parameters.png show the three tabs as the program
// starts. chart-acquisition.png shows the chart after some seconds of acquisition against the
// simulated sensor on a pseudo-terminal, driven through the window's own widgets; chart-menu.png
// the same with the chart's context menu open.
//
// Runs headless (offscreen platform unless QT_QPA_PLATFORM says otherwise). The captions are
// Chinese: without the WenQuanYi Micro Hei font they would come out as empty boxes, so the
// tool refuses to run without it. Latin text and symbols come from DejaVu Sans, because
// WenQuanYi Micro Hei draws "℃" as an empty glyph.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontDatabase>
#include <QGraphicsView>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>
#include <QTextEdit>
#include <QTextStream>
#include <QTimer>

#include <functional>
#include <memory>

#include "app/mainwindow.h"
#include "sim/simulatedsensor.h"

namespace {

const QString kCjkFontFamily = QStringLiteral("WenQuanYi Micro Hei");
const QString kLatinFontFamily = QStringLiteral("DejaVu Sans");
// The form's fixed geometries were laid out for 12-pixel text; the platform's default
// (12 pt here) would clip the longer captions, and so would DejaVu's wide digits unless
// slightly condensed ("范围 负1000-1000" must fit 100 pixels).
constexpr int kFontPixelSize = 12;
// At 115200 baud a cycle of five reads is short; with the tick's cadence a 0.2 s period
// gives a sample about every 0.3 s, so the chart's window of 34 samples is full after 12 s.
constexpr int kBaudRate = 115200;
constexpr int kAcquisitionSeconds = 15;

QTextStream &err() {
    static QTextStream stream(stderr);
    return stream;
}

// Runs the event loop until done() holds, checking every 20 ms, or until timeoutMs passed.
bool runUntil(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || elapsed.hasExpired(timeoutMs))
            loop.quit();
    });
    poll.start(20);
    if (!done())
        loop.exec();
    return done();
}

void runFor(int milliseconds) {
    QElapsedTimer elapsed;
    elapsed.start();
    runUntil([&] { return elapsed.hasExpired(milliseconds); }, milliseconds + 1000);
}

class WindowDriver {
public:
    explicit WindowDriver(QWidget &window) : window(window) {}

    template <typename T>
    T *widget(const char *name) const {
        T *found = window.findChild<T *>(QLatin1String(name));
        if (!found)
            err() << "take_screenshots: the window has no " << name << '\n';
        return found;
    }

    bool click(const char *buttonName) const {
        auto *button = widget<QAbstractButton>(buttonName);
        if (!button || !button->isEnabled())
            return false;
        button->click();
        return true;
    }

    bool logContains(const QString &line) const {
        auto *log = widget<QTextEdit>("textEdit");
        return log && log->toPlainText().split(QLatin1Char('\n')).contains(line);
    }

    bool waitForLogLine(const QString &line, int timeoutMs) const {
        if (runUntil([&] { return logContains(line); }, timeoutMs))
            return true;
        err() << "take_screenshots: no \"" << line << "\" in the log after " << timeoutMs
              << " ms\n";
        return false;
    }

    bool showTab(int index) const {
        auto *tabs = widget<QTabWidget>("tabWidget");
        if (!tabs)
            return false;
        tabs->setCurrentIndex(index);
        runFor(100);  // let the page lay out and paint once
        return true;
    }

    bool save(const QString &path) const { return saved(window.grab(), path); }

    // Right-clicks the chart and saves the window with the menu over it: a menu is a window of
    // its own, so it is painted onto the window's picture where it opened.
    bool saveWithChartMenu(const QString &path) const {
        auto *chart = widget<QGraphicsView>("graphicsView");
        if (!chart)
            return false;
        bool written = false;
        QTimer::singleShot(300, &window, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu) {
                err() << "take_screenshots: the chart's context menu did not open\n";
                return;
            }
            QPixmap picture = window.grab();
            QPainter(&picture).drawPixmap(window.mapFromGlobal(menu->pos()), menu->grab());
            written = saved(picture, path);
            menu->close();
        });
        const QPoint at(chart->width() / 2, chart->height() / 3);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, chart->viewport()->mapToGlobal(at));
        QApplication::sendEvent(chart->viewport(), &event);
        return written;
    }

private:
    static bool saved(const QPixmap &picture, const QString &path) {
        if (picture.save(path, "PNG"))
            return true;
        err() << "take_screenshots: cannot write " << path << '\n';
        return false;
    }

    QWidget &window;
};

bool takeTabPictures(const WindowDriver &driver, const QDir &output) {
    const struct {
        int tab;
        const char *file;
    } pictures[] = {
        {0, "tab-settings.png"},
        {1, "tab-chart.png"},
        {2, "tab-parameters.png"},
    };
    for (const auto &picture : pictures) {
        if (!driver.showTab(picture.tab) ||
            !driver.save(output.filePath(QLatin1String(picture.file))))
            return false;
    }
    return driver.showTab(0);
}

bool takeAcquisitionPicture(const WindowDriver &driver, const QDir &output) {
    SimulatedSensor sensor;
    QString error;
    if (!sensor.openPty(&error, kBaudRate)) {
        err() << "take_screenshots: no pseudo-terminal for the sensor: " << error << '\n';
        return false;
    }
    // Replies take as long as on a real line.
    sensor.setLineTiming(true);

    // Pseudo-terminals are not in the system's port list: name this one as an operator would.
    auto *ports = driver.widget<QComboBox>("com_port");
    auto *baudRates = driver.widget<QComboBox>("baud_rate");
    auto *period = driver.widget<QLineEdit>("line_time");
    if (!ports || !baudRates || !period)
        return false;
    ports->addItem(sensor.portPath());
    ports->setCurrentIndex(ports->count() - 1);
    baudRates->setCurrentIndex(baudRates->findText(QString::number(kBaudRate)));

    if (!driver.click("connect_button") ||
        !driver.waitForLogLine(QString::fromUtf8("串口打开成功！"), 2000))
        return false;
    if (!driver.click("scan_button") ||
        !driver.waitForLogLine(QString::fromUtf8("获取成功！"), 5000))
        return false;

    period->setText(QStringLiteral("0.2"));
    if (!driver.click("connect_button_2"))
        return false;
    runFor(kAcquisitionSeconds * 1000);

    const bool saved = driver.showTab(1) &&
                       driver.save(output.filePath(QStringLiteral("chart-acquisition.png"))) &&
                       driver.saveWithChartMenu(output.filePath(QStringLiteral("chart-menu.png")));

    // Stop and close as the operator would, so the worker is idle before the sensor goes.
    driver.click("scan_button_2");
    driver.click("connect_button");
    runFor(300);
    return saved;
}

}  // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    const QStringList arguments = application.arguments();
    if (arguments.size() > 2) {
        err() << "usage: take_screenshots [OUTPUT_DIRECTORY]\n";
        return 2;
    }
    const QDir output(arguments.value(1, QStringLiteral("docs/screenshots")));
    if (!QDir().mkpath(output.path())) {
        err() << "take_screenshots: cannot create " << output.path() << '\n';
        return 1;
    }

    const QStringList families = QFontDatabase().families();
    for (const QString &family : {kCjkFontFamily, kLatinFontFamily}) {
        if (!families.contains(family)) {
            err() << "take_screenshots: font \"" << family << "\" is missing (Debian: "
                  << (family == kCjkFontFamily ? "fonts-wqy-microhei" : "fonts-dejavu-core")
                  << "); captions would be boxes or clipped\n";
            return 1;
        }
    }
    QFont font;
    font.setFamilies({kLatinFontFamily, kCjkFontFamily});
    font.setStretch(QFont::SemiCondensed);
    font.setPixelSize(kFontPixelSize);
    application.setFont(font);

    auto window = std::make_unique<MainWindow>();
    window->show();
    // The first ticks fill the port selector; then the window is as the operator first sees it.
    runFor(400);
    const WindowDriver driver(*window);

    if (!takeTabPictures(driver, output))
        return 1;
    const bool acquired = takeAcquisitionPicture(driver, output);
    window.reset();
    if (!acquired)
        return 1;

    QTextStream(stdout) << "take_screenshots: wrote five pictures to " << output.path() << '\n';
    return 0;
}
