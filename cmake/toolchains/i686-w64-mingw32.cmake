# 32-bit Windows programs, cross-built with mingw-w64 (i686, posix threads).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KEL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-posix.cmake)
