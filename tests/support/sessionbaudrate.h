#pragma once

// The rate the window suites open the simulated sensor's port at, where a test asks for none.
// Under a sanitizer every thread runs several times slower: beside two busy processes the
// window there read a scan's reply 12 ms after the sensor wrote it, past the 15 ms reply wait
// of 115200 baud. The 70 ms of 9600 baud leave room for that. The plain builds keep 115200,
// whose short wait the late-reply tables are about.
#ifdef WORKBENCH_SANITIZED_BUILD
inline constexpr int kSessionBaudRate = 9600;
#else
inline constexpr int kSessionBaudRate = 115200;
#endif
