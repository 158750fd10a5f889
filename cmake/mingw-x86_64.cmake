# 64-bit Windows: the tests' build on hosts that run no 32-bit programs.
set(QV_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
