#pragma once

// Windows ends timed waits on its timer tick, 15.6 ms apart unless a program asks for finer
// ones: a 15 ms reply wait would then last 31 ms. While one of these lives the process asks
// for 1 ms ticks. Elsewhere waits already end within about a millisecond, and it does nothing.
class FineWaitResolution {
public:
    FineWaitResolution();
    ~FineWaitResolution();
    FineWaitResolution(const FineWaitResolution &) = delete;
    FineWaitResolution &operator=(const FineWaitResolution &) = delete;

private:
    [[maybe_unused]] bool granted = false;
};
