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
function(kel_test name)
  cmake_parse_arguments(ARG "PG_SERVER" "" "SOURCES;DEPS;NOT_ON_WINDOWS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kel_options ${ARG_DEPS} GTest::gtest GTest::gtest_main
    GTest::gmock)
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
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_PREFIX "kelbtrv."
    TEST_LIST ${name}_STANDIN_TESTS
    PROPERTIES ENVIRONMENT "KEL_TEST_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    ENVIRONMENT_MODIFICATION "KELBTR=set:$<TARGET_FILE:kelbtrv>" LABELS kelbtrv)
endfunction()
