// The window's actions that keep what was measured: the chart as a picture, the samples in a
// CSV file as they come, the log pane as a text file. They live in the context menus of the
// chart and the log pane, so the form itself stays as it is.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QScrollBar>
#include <QTextEdit>

#include <memory>

#include "app/mainwindow.h"
#include "sensor/samplerecorder.h"
#include "sensor/savefile.h"
#include "sensor/uitext.h"
#include "sensor/windowaction.h"
#include "ui_mainwindow.h"

namespace {

QString shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

void logSaved(QTextEdit &log, const char *savedLine, const char *failedLine, const QString &path,
              const QByteArray &bytes) {
    QString reason;
    if (saveWholeFile(path, bytes, &reason))
        log.append(uiText(savedLine).arg(shown(path)));
    else
        log.append(uiText(failedLine).arg(shown(path), reason));
}

}  // namespace

void MainWindow::setSaveFileChooser(SaveFileChooser chooser) {
    chooseSaveFile = std::move(chooser);
}

void MainWindow::setUpKeepingActions() {
    recorder = std::make_unique<SampleRecorder>();
    chooseSaveFile = [this](const QString &caption, const QString &suggested,
                            const QString &filter) {
        return QFileDialog::getSaveFileName(this, caption, suggested, filter);
    };

    QAction *saveChartAction = newWindowAction(this, "action_save_chart", "保存曲线图片…");
    recordAction = newWindowAction(this, "action_record_samples", "记录数据到文件…");
    recordAction->setCheckable(true);
    QAction *saveLogAction = newWindowAction(this, "action_save_log", "保存日志…");
    connect(saveChartAction, &QAction::triggered, this, &MainWindow::saveChart);
    connect(recordAction, &QAction::triggered, this, &MainWindow::setRecording);
    connect(saveLogAction, &QAction::triggered, this, &MainWindow::saveLog);

    ui->graphicsView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->graphicsView, &QWidget::customContextMenuRequested, this,
            [this, saveChartAction](const QPoint &at) {
                QMenu menu(this);
                menu.addAction(saveChartAction);
                menu.addAction(recordAction);
                menu.exec(ui->graphicsView->viewport()->mapToGlobal(at));
            });
    ui->textEdit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->textEdit, &QWidget::customContextMenuRequested, this,
            [this, saveLogAction](const QPoint &at) {
                // The pane's own entries (copy, select all) come first; they take the point
                // in the document, which the pane may have scrolled.
                QTextEdit *log = ui->textEdit;
                const QPoint inDocument = at + QPoint(log->horizontalScrollBar()->value(),
                                                      log->verticalScrollBar()->value());
                const std::unique_ptr<QMenu> menu(log->createStandardContextMenu(inDocument));
                menu->addSeparator();
                menu->addAction(saveLogAction);
                menu->exec(log->viewport()->mapToGlobal(at));
            });
}

void MainWindow::saveChart() {
    // The chart as it was when asked for: acquisition goes on while the dialog is open.
    const QByteArray png = pngBytes(ui->graphicsView->grab().toImage());
    const QString path =
        chooseSaveFile(uiText("保存曲线图片"),
                       suggestedSavePath(QStringLiteral("sensor-chart"), QStringLiteral("png"),
                                         QDateTime::currentDateTime()),
                       uiText("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    if (png.isEmpty()) {  // an empty file must not be reported as the picture
        ui->textEdit->append(
            uiText("曲线图片保存失败：%1（%2）").arg(shown(path), uiText("无法生成图片")));
        return;
    }
    logSaved(*ui->textEdit, "曲线图片已保存：%1", "曲线图片保存失败：%1（%2）", path, png);
}

void MainWindow::saveLog() {
    const QByteArray text = ui->textEdit->toPlainText().toUtf8();
    const QString path =
        chooseSaveFile(uiText("保存日志"),
                       suggestedSavePath(QStringLiteral("sensor-log"), QStringLiteral("txt"),
                                         QDateTime::currentDateTime()),
                       uiText("文本文件 (*.txt)"));
    if (path.isEmpty())
        return;
    logSaved(*ui->textEdit, "日志已保存：%1", "日志保存失败：%1（%2）", path, text);
}

void MainWindow::setRecording(bool on) {
    if (!on) {
        if (!recorder->isRecording())
            return;
        if (recorder->stop())
            ui->textEdit->append(uiText("停止记录数据：%1").arg(shown(recorder->fileName())));
        else
            recordingFailed();
        return;
    }
    const QString path =
        chooseSaveFile(uiText("记录数据到文件"),
                       suggestedSavePath(QStringLiteral("sensor"), QStringLiteral("csv"),
                                         QDateTime::currentDateTime()),
                       uiText("CSV 文件 (*.csv)"));
    if (path.isEmpty()) {
        recordAction->setChecked(false);
        return;
    }
    if (recorder->start(path))
        ui->textEdit->append(uiText("开始记录数据：%1").arg(shown(path)));
    else
        recordingFailed();
}

void MainWindow::keepSample(const CycleSample *sample) {
    if (!recorder->isRecording())
        return;
    if (!(sample ? recorder->record(*sample) : recorder->syncIfDue()))
        recordingFailed();
}

void MainWindow::recordingFailed() {
    ui->textEdit->append(uiText("记录数据失败，已停止记录：%1（%2）")
                             .arg(shown(recorder->fileName()), recorder->errorString()));
    recordAction->setChecked(false);
}
