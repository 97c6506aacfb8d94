#pragma once

// The chart classes by their plain names under Qt 5 and Qt 6. Qt 5 declares them in the
// namespace QtCharts (and defines QT_CHARTS_USE_NAMESPACE for it), Qt 6 in Qt's own namespace.
// Code that names a chart class includes this header and never spells QtCharts::; the
// definitions come from the usual <QtCharts/...> headers.

#include <QtCharts/qchartglobal.h>

#ifdef QT_CHARTS_USE_NAMESPACE
QT_CHARTS_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
QT_CHARTS_END_NAMESPACE
QT_CHARTS_USE_NAMESPACE
#else
QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE
#endif
