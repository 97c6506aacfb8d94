#pragma once

#include <vector>

#include "bench/stats.h"

// The bus against the simulated sensor on a pseudo-terminal, at one baud rate: how long each
// read takes against its fixed wait, how cycles are spaced at the 0.1 s period against the
// design's schedule, and how long the GUI thread's event loop is away meanwhile.
std::vector<ResultRow> runBusBench(int baudRate, int seconds);
