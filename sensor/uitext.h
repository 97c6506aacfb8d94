#pragma once

#include <QCoreApplication>
#include <QString>

// Every text the operator sees goes through the translation lookup of the window's form.
inline QString uiText(const char *text) {
    return QCoreApplication::translate("MainWindow", text);
}
