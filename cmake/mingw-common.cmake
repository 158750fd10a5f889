# Cross compile for Windows with Debian's MinGW-w64, linked statically: nothing to
# ship beside the exe. The compilers of the win32 thread model: our programs run one
# thread, and with the posix model libgcc's unwinder and libstdc++'s exception
# allocator pull the winpthread library into every program (18 to 26 KB). That model
# has no std::thread or std::mutex: a test that needs a second thread uses
# CreateThread, and tests/gtest-custom/ gives GoogleTest a Notification of its own.
# Included by the toolchain file of each architecture after it sets QV_MINGW_ARCH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QV_MINGW_ARCH})
set(CMAKE_C_COMPILER ${QV_MINGW_ARCH}-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER ${QV_MINGW_ARCH}-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER ${QV_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
