#pragma once

#include <vector>

#include "bench/stats.h"

// A profile of every configuration register saved and applied through the real window against
// the simulated sensor, at one baud rate, against the design's schedule of one request per
// tick plus its fixed wait.
std::vector<ResultRow> runProfileBench(int baudRate, int repeats);
