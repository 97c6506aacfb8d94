#pragma once

#include <vector>

#include "bench/stats.h"

// CPU of the program idle and acquiring, against a bare window and the design's floor.
std::vector<ResultRow> runCpuBench(int seconds);
// GUI-thread time per presented sample as the series fill, and resident memory after many
// samples and after an hour's worth of log lines.
std::vector<ResultRow> runSampleAndMemoryBench();
// From process start to the first painted window, against a bare window.
std::vector<ResultRow> runStartupBench(int runs);
// Ticks from a button press to its result line, against the design's schedule.
std::vector<ResultRow> runClickBench(int presses);
// The fault soak and the rough events.
std::vector<ResultRow> runSoakBench(int seconds, int roughRepeats);
