#include "rtu/waitresolution.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, whose types it uses.
#include <timeapi.h>
#endif

FineWaitResolution::FineWaitResolution() {
#ifdef _WIN32
    granted = timeBeginPeriod(1) == TIMERR_NOERROR;
#endif
}

FineWaitResolution::~FineWaitResolution() {
#ifdef _WIN32
    if (granted)
        timeEndPeriod(1);
#endif
}
