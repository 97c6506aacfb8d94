#pragma once

#include <QAction>
#include <QLatin1String>

#include "sensor/uitext.h"

// An action of the main window, found by its object name, with its caption.
inline QAction *newWindowAction(QObject *window, const char *objectName, const char *caption) {
    auto *action = new QAction(uiText(caption), window);
    action->setObjectName(QLatin1String(objectName));
    return action;
}
