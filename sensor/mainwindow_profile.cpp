// The window's profile actions: a sensor's configuration saved to a file, and a file written to
// the next sensor. They live in the context menu of the parameter tab, so the form itself
// stays as it is; the work is the profile session's.
#include <QAction>
#include <QFileDialog>
#include <QMenu>

#include "app/mainwindow.h"
#include "sensor/profilesession.h"
#include "sensor/windowaction.h"
#include "transport/serial.h"
#include "ui_mainwindow.h"

void MainWindow::setOpenFileChooser(SaveFileChooser chooser) {
    chooseOpenFile = std::move(chooser);
}

void MainWindow::setUpProfileActions() {
    chooseOpenFile = [this](const QString &caption, const QString &suggested,
                            const QString &filter) {
        return QFileDialog::getOpenFileName(this, caption, suggested, filter);
    };
    // Through the members, so that a chooser set later is the one used.
    profile = std::make_unique<ProfileSession>(
        *ui, this, kReducedWindow,
        [this](const QString &caption, const QString &suggested, const QString &filter) {
            return chooseSaveFile(caption, suggested, filter);
        },
        [this](const QString &caption, const QString &suggested, const QString &filter) {
            return chooseOpenFile(caption, suggested, filter);
        });

    QAction *saveAction = newWindowAction(this, "action_save_profile", "保存参数配置…");
    QAction *applyAction = newWindowAction(this, "action_apply_profile", "写入参数配置…");
    connect(saveAction, &QAction::triggered, profile.get(), &ProfileSession::save);
    connect(applyAction, &QAction::triggered, profile.get(), &ProfileSession::apply);
    connect(serialPort, &Serial::portReleased, profile.get(), &ProfileSession::portReleased);

    // Right-clicks on the group boxes and their labels reach the page, which they do not take.
    ui->tab->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->tab, &QWidget::customContextMenuRequested, this,
            [this, saveAction, applyAction](const QPoint &at) {
                QMenu menu(this);
                menu.addAction(saveAction);
                menu.addAction(applyAction);
                menu.exec(ui->tab->mapToGlobal(at));
            });
}
