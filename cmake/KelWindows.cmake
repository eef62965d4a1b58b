# What the Windows build (the windows preset: mingw-w64, cross-built, tested
# under wine) takes in place of the Linux system's libraries:
# - SQLite compiled in from the pinned amalgamation (scripts/fetch-sqlite,
#   checked against its recorded SHA-256), as the target SQLite::SQLite3;
# - GoogleTest and GoogleMock built from Debian's googletest sources
#   (/usr/src/googletest) as GTest::gtest, GTest::gtest_main, GTest::gmock;
# - no ncurses (the console is the Windows console), no libpq (the server
#   backend's stub refuses a configured server), no Google Benchmark.
# Programs are linked statically: nothing but Windows' own DLLs beside them.
if(NOT WIN32)
  message(FATAL_ERROR "KelWindows.cmake is for Windows targets only")
endif()

# A 32-bit build's programs run here only under a 32-bit wine (Debian's
# wine32: its loader /usr/lib/wine/wine, which scripts/wine-run takes for
# them). Without it the tests that run them are left out unless asked for.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_CROSSCOMPILING AND NOT DEFINED KEL_TESTS)
  find_program(KEL_WINE32 wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT KEL_WINE32)
    message(STATUS "No 32-bit wine (wine32): the tests that run the programs are left out "
                   "(KEL_TESTS=OFF); the checks of the built files still run")
    set(KEL_TESTS OFF CACHE BOOL "Build and register the tests that run the build's programs")
  endif()
endif()

if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
  # mingw-w64's own printf family, which knows C99's formats (%zu, %lld)
  # that the old msvcrt.dll does not.
  add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
endif()

# --- SQLite
set(KEL_SQLITE_DIR "" CACHE PATH
    "Folder with sqlite3.c and sqlite3.h (empty: fetched by scripts/fetch-sqlite)")
if(NOT KEL_SQLITE_DIR)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/fetch-sqlite
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _kel_fetch_out RESULT_VARIABLE _kel_fetch_rc)
  if(NOT _kel_fetch_rc EQUAL 0)
    message(FATAL_ERROR "scripts/fetch-sqlite failed: the SQLite amalgamation is missing")
  endif()
  string(STRIP "${_kel_fetch_out}" _kel_fetch_out)
  string(REGEX REPLACE ".*\n" "" _kel_fetch_out "${_kel_fetch_out}")
  get_filename_component(_kel_sqlite_dir "${_kel_fetch_out}" ABSOLUTE BASE_DIR
                         ${PROJECT_SOURCE_DIR})
else()
  set(_kel_sqlite_dir ${KEL_SQLITE_DIR})
endif()
add_library(kel_sqlite3 STATIC ${_kel_sqlite_dir}/sqlite3.c)
target_include_directories(kel_sqlite3 SYSTEM PUBLIC ${_kel_sqlite_dir})
# SQLite's own Windows VFS; nothing loads extensions; the record manager is
# single-threaded but a console control handler runs on a thread of its own,
# so SQLite keeps its mutexes (serialized). The dbstat table, as Debian's
# SQLite has it: the damage tests find a file's index and record pages with it.
target_compile_definitions(kel_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
                           SQLITE_DEFAULT_MEMSTATUS=0 SQLITE_OMIT_DEPRECATED
                           SQLITE_ENABLE_DBSTAT_VTAB)
set_target_properties(kel_sqlite3 PROPERTIES C_STANDARD 99 C_EXTENSIONS OFF)
if(CMAKE_C_COMPILER_ID STREQUAL "GNU")
  target_compile_options(kel_sqlite3 PRIVATE -w)
endif()
add_library(SQLite::SQLite3 ALIAS kel_sqlite3)

# --- GoogleTest
set(KEL_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's sources")
if(NOT EXISTS ${KEL_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest's sources are missing (${KEL_GOOGLETEST_SOURCE_DIR}): "
          "scripts/deps.sh installs Debian's googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${KEL_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(_kel_gtest gtest gtest_main gmock)
  if(NOT TARGET GTest::${_kel_gtest})
    add_library(GTest::${_kel_gtest} ALIAS ${_kel_gtest})
  endif()
endforeach()
# Tests are listed when CTest runs them (under wine), not at build time: a
# build needs no wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
