# Cross-building the programs for 64-bit Windows on Debian with MinGW-w64:
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DWORKBENCH_WINDOWS_QT=/path/to/qt-5.15.8-mingw64
#
# WORKBENCH_WINDOWS_QT is a Qt built for x86_64-w64-mingw32 (scripts/workbench.sh windows
# builds one into its cache). The posix-thread compilers: the programs use std::mutex and
# std::thread, which GCC 12's win32-thread runtime lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT WORKBENCH_WINDOWS_QT)
    message(FATAL_ERROR "cross-building for Windows needs -DWORKBENCH_WINDOWS_QT=<Qt for MinGW>")
endif()
# Try-compiles run in projects of their own; they need the Qt location too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WORKBENCH_WINDOWS_QT)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${WORKBENCH_WINDOWS_QT})
# Programs (moc, uic, rcc) run on this machine; libraries and headers come from the target.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
