# libpq for the record manager's server backend, and the private PostgreSQL
# server the tests run against.
#
# KEL_HAVE_LIBPQ: libpq was found; recman links it (otherwise a server in the
#   configuration makes Open and Create fail with a status).
# KEL_TEST_PG_DIR: the folder of this build's private server (under /tmp, a
#   short name derived from the build folder: the socket path must stay short).
# KEL_TEST_PG_CONNINFO: its libpq connection string (a URI: no spaces), empty
#   when either libpq or PostgreSQL's server programs are missing.
# kel_requires_pg_server(TEST...): those tests need the fixture pg_server and
#   get the connection string in KEL_TEST_PG.
find_package(PostgreSQL QUIET)
if(PostgreSQL_FOUND)
  set(KEL_HAVE_LIBPQ ON)
else()
  set(KEL_HAVE_LIBPQ OFF)
  message(STATUS "libpq not found: the record manager is built without its server backend")
endif()

file(GLOB _kel_pg_initdb /usr/lib/postgresql/*/bin/initdb)
if(NOT _kel_pg_initdb)
  find_program(_kel_pg_initdb_prog initdb)
  if(_kel_pg_initdb_prog)
    set(_kel_pg_initdb ${_kel_pg_initdb_prog})
  endif()
endif()

string(MD5 _kel_pg_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_kel_pg_hash}" 0 10 _kel_pg_hash)
set(KEL_TEST_PG_DIR /tmp/kelpg-${_kel_pg_hash})
set(KEL_TEST_PG_SCRIPT ${PROJECT_SOURCE_DIR}/tests/pg/pg_server.sh)
if(KEL_HAVE_LIBPQ AND _kel_pg_initdb)
  set(KEL_TEST_PG_CONNINFO "postgresql:///postgres?host=${KEL_TEST_PG_DIR}&port=5432&user=kel")
else()
  set(KEL_TEST_PG_CONNINFO "")
  message(STATUS "PostgreSQL server programs or libpq missing: server tests will skip")
endif()

function(kel_requires_pg_server)
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED pg_server)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "KEL_TEST_PG=${KEL_TEST_PG_CONNINFO}")
  endforeach()
endfunction()
