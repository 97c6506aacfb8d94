#pragma once

#include <QString>

#include <algorithm>
#include <vector>

// Order statistics of a sample (the input is copied and sorted).
struct Summary {
    std::size_t count = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
    double min = 0;
};

inline double quantile(const std::vector<double> &sorted, double q) {
    if (sorted.empty())
        return 0;
    const auto index = std::size_t(q * double(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

inline Summary summarize(std::vector<double> values) {
    Summary summary;
    summary.count = values.size();
    if (values.empty())
        return summary;
    std::sort(values.begin(), values.end());
    summary.median = quantile(values, 0.5);
    summary.p99 = quantile(values, 0.99);
    summary.max = values.back();
    summary.min = values.front();
    return summary;
}

// One line of a result table: what was measured, what it is measured against in the same
// run, and the ratio of the two.
struct ResultRow {
    QString what;
    double value;
    QString unit;
    QString against;
    double reference;
    QString target;  // empty when the figure has no target
    bool met = true;
};
