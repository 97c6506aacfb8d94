#include "sensor/profiledialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "sensor/uitext.h"

namespace {

enum Column { Caption, Current, Wanted, Note };

QString noteFor(const ConfirmationRow &row) {
    if (row.current == row.wanted)
        return uiText("相同");
    switch (row.guard) {
        case ProfileGuard::Identity:
            return uiText("默认不写：会改变传感器的类型");
        case ProfileGuard::Line:
            return uiText("默认不写：传感器会离开本线路");
        case ProfileGuard::None:
            break;
    }
    return QString();
}

}  // namespace

ProfileConfirmation::ProfileConfirmation(const std::vector<ConfirmationRow> &rows, int slaveAddress,
                                         QWidget *parent)
    : QDialog(parent), table(new QTreeWidget(this)) {
    setObjectName(QStringLiteral("profile_confirmation"));
    setWindowTitle(uiText("写入参数配置"));

    QStringList guarded;
    for (const ConfirmationRow &row : rows) {
        if (row.guard != ProfileGuard::None)
            guarded << row.caption;
    }
    QString intro =
        uiText("勾选的参数将写入地址 %1 的传感器，每项写入后读回核对。").arg(slaveAddress);
    if (!guarded.isEmpty())
        intro += uiText("%1默认不勾选：改动它们会使传感器离开本线路或改变它的类型。")
                     .arg(guarded.join(uiText("、")));
    auto *introLabel = new QLabel(intro, this);
    introLabel->setWordWrap(true);

    table->setObjectName(QStringLiteral("profile_rows"));
    table->setRootIsDecorated(false);
    table->setHeaderLabels({uiText("参数"), uiText("当前值"), uiText("配置值"), uiText("说明")});
    for (const ConfirmationRow &row : rows) {
        auto *item = new QTreeWidgetItem(table);
        item->setText(Caption, row.caption);
        item->setText(Current, QString::number(row.current));
        item->setText(Wanted, QString::number(row.wanted));
        item->setText(Note, noteFor(row));
        if (row.current == row.wanted) {
            item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
            item->setDisabled(true);
        } else {
            const bool ticked = row.guard == ProfileGuard::None;
            item->setCheckState(Caption, ticked ? Qt::Checked : Qt::Unchecked);
        }
    }
    for (int column = Caption; column <= Note; ++column)
        table->resizeColumnToContents(column);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *write = buttons->addButton(uiText("写入"), QDialogButtonBox::AcceptRole);
    buttons->addButton(uiText("取消"), QDialogButtonBox::RejectRole);
    write->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(introLabel);
    layout->addWidget(table);
    layout->addWidget(buttons);
    resize(520, 480);
}

bool ProfileConfirmation::isTicked(int row) const {
    const QTreeWidgetItem *item = table->topLevelItem(row);
    return item != nullptr && (item->flags() & Qt::ItemIsUserCheckable) &&
           item->checkState(Caption) == Qt::Checked;
}
