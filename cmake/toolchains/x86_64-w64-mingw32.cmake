# 64-bit Windows programs, cross-built with mingw-w64 (x86_64, posix threads).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KEL_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-posix.cmake)
