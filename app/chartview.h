#pragma once

// The form's chart view (its custom widget header): QChartView by its plain name under either
// Qt.

#include <QtCharts/QChartView>

#include "app/charts.h"
