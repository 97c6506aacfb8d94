#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <vector>

#include "sensor/registermap.h"

class QTreeWidget;

// One register of a profile as the confirmation shows it.
struct ConfirmationRow {
    QString caption;
    std::int32_t current;
    std::int32_t wanted;
    ProfileGuard guard;
};

// Asks before an apply writes: one line per register of the profile with the sensor's value and
// the profile's. The rows that differ are ticked, except the guarded ones; rows that agree
// cannot be ticked. The default button (Enter) accepts, Escape and the other button cancel.
class ProfileConfirmation : public QDialog {
    Q_OBJECT

public:
    ProfileConfirmation(const std::vector<ConfirmationRow> &rows, int slaveAddress,
                        QWidget *parent);

    bool isTicked(int row) const;

private:
    QTreeWidget *table;
};
