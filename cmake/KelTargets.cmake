# Shared compile settings for every target of the project.
add_library(kel_options INTERFACE)
target_compile_options(kel_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
  -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual -Wimplicit-fallthrough)
# GCC 12 reports std::string concatenations at -O2 as overlapping copies
# (a false positive of its -Wrestrict, GCC bug 105329); the warning is noise
# there and only there.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(kel_options INTERFACE -Wno-restrict)
endif()
if(KEL_WERROR)
  target_compile_options(kel_options INTERFACE -Werror)
endif()
if(KEL_SANITIZE)
  target_compile_options(kel_options INTERFACE -fsanitize=address,undefined
    -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(kel_options INTERFACE -fsanitize=address,undefined)
endif()
if(KEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KEL_FUZZ needs clang (libFuzzer): use the fuzz preset")
  endif()
  # Coverage feedback for libFuzzer in every library; only the fuzz targets
  # link the fuzzer's own main (fuzz/CMakeLists.txt).
  target_compile_options(kel_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
target_include_directories(kel_options INTERFACE ${PROJECT_SOURCE_DIR})

# kel_library(NAME SOURCES... DEPS ...): one static library per folder.
function(kel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC kel_options ${ARG_DEPS})
endfunction()

# kel_test(NAME [PG_SERVER] SOURCES... DEPS ... [NOT_ON_WINDOWS TEST...]): one
# GoogleTest binary per folder. PG_SERVER: its tests need the private
# PostgreSQL server (fixture pg_server, connection string in KEL_TEST_PG;
# see KelPgServer.cmake). NOT_ON_WINDOWS: tests (Suite.Name) of what only the
# POSIX build has, left out of the Windows build's run.
# Without KEL_TESTS the binary is only defined (built on request), not run.
function(kel_test name)
  cmake_parse_arguments(ARG "PG_SERVER" "" "SOURCES;DEPS;NOT_ON_WINDOWS" ${ARGN})
  if(NOT KEL_TESTS)
    add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
  else()
    add_executable(${name} ${ARG_SOURCES})
  endif()
  target_link_libraries(${name} PRIVATE kel_options ${ARG_DEPS} GTest::gtest GTest::gtest_main
    GTest::gmock)
  if(NOT KEL_TESTS)
    return()
  endif()
  set(filter "")
  if(WIN32 AND ARG_NOT_ON_WINDOWS)
    list(JOIN ARG_NOT_ON_WINDOWS ":" filter)
    set(filter TEST_FILTER "-${filter}")
  endif()
  if(ARG_PG_SERVER)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${filter}
      PROPERTIES ENVIRONMENT "KEL_TEST_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
      ENVIRONMENT_MODIFICATION "KEL_TEST_PG=set:${KEL_TEST_PG_CONNINFO}"
      FIXTURES_REQUIRED pg_server)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${filter}
      PROPERTIES ENVIRONMENT "KEL_TEST_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  endif()
endfunction()

# kel_test_through_standin(NAME): the GoogleTest binary NAME once more, with
# KELBTR naming the stand-in record manager library (recman/kelbtrv.cc): the
# data-file layer then reaches every data file through a loaded library's
# BTRCALL, as it does for an installation whose Nuri.ini names the installed
# record manager ([Dades] Gestor). Test names start with "kelbtrv.".
function(kel_test_through_standin name)
  add_dependencies(${name} kelbtrv)
  if(NOT KEL_TESTS)
    return()
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_PREFIX "kelbtrv."
    TEST_LIST ${name}_STANDIN_TESTS
    PROPERTIES ENVIRONMENT "KEL_TEST_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    ENVIRONMENT_MODIFICATION "KELBTR=set:$<TARGET_FILE:kelbtrv>" LABELS kelbtrv)
endfunction()

# kel_entry_point_def(TARGET EXPORT): a record manager library of the Windows
# build (TARGET, built from a file defining the entry point BTRCALL) exports
# that function under the name EXPORT and nothing else, by a
# module-definition file. The function's own symbol is BTRCALL, except with
# GNU ld on 32-bit Windows, where a __stdcall function's symbol carries the
# bytes of its arguments (_BTRCALL@28, written BTRCALL@28 in the file) and
# is named so that no fuzzy match of the linker is needed.
function(kel_entry_point_def target export_name)
  set(symbol BTRCALL)
  if(MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(symbol BTRCALL@28)
  endif()
  if(export_name STREQUAL symbol)
    set(line "  ${export_name}")
  else()
    set(line "  ${export_name} = ${symbol}")
  endif()
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
  file(CONFIGURE OUTPUT ${def} CONTENT "EXPORTS\n${line}\n" @ONLY)
  target_sources(${target} PRIVATE ${def})
endfunction()
