# Cross-compiling for Windows on Debian with MinGW-w64 (posix threads): scripts/release/setup-windows
# builds Qt with it, and the "windows" preset builds the programs against that Qt, whose folder
# comes in SETUPTOOL_WINDOWS_QT.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# The cross Qt's CMake files (when building against it), and the Linux Qt's host tools (moc,
# uic, rcc) that it was built with.
set(CMAKE_FIND_ROOT_PATH ${SETUPTOOL_WINDOWS_QT} /usr/x86_64-w64-mingw32)
if(SETUPTOOL_WINDOWS_QT)
    set(CMAKE_PREFIX_PATH ${SETUPTOOL_WINDOWS_QT})
endif()
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
