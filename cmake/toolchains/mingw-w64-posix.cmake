# Shared part of the mingw-w64 cross toolchains (Debian's gcc-mingw-w64
# packages, "posix" threads variant). The including file sets
# KEL_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR; each target needs only such a
# small file (x86_64-w64-mingw32.cmake, i686-w64-mingw32.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KEL_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${KEL_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${KEL_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

# Libraries and headers of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${KEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and test discovery run the programs under wine, in a private prefix.
get_filename_component(_kel_source_dir "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_kel_source_dir}/scripts/wine-run)
