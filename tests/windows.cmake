# End-to-end tests of the Windows programs: they run under wine
# (scripts/wine-run, in the prefix of WINEPREFIX) in tmux, driven by bash
# scripts of the build machine. KEL_LINUX_BIN_DIR names a Linux build's
# programs (mkinstall, conversion_check): with it, an installation written
# on Linux is converted by the Windows program and read back on Linux.
set(KEL_LINUX_BIN_DIR "" CACHE PATH "A Linux build's bin folder, for the cross-system test")
set(KEL_E2E_DIR ${CMAKE_CURRENT_SOURCE_DIR}/e2e)

# The built files themselves, read with the cross binutils on the build
# machine (no wine): every build, the 32-bit one included.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_kel_triplet i686-w64-mingw32)
else()
  set(_kel_triplet x86_64-w64-mingw32)
endif()
set(_kel_files_args)
foreach(_kel_program tavireno recutil mkinstall keyprobe formprobe listprobe entry_call_check)
  if(TARGET ${_kel_program})
    list(APPEND _kel_files_args --program $<TARGET_FILE:${_kel_program}>)
  endif()
endforeach()
foreach(_kel_program tavireno recutil entry_call_check)
  if(TARGET ${_kel_program})
    list(APPEND _kel_files_args --engine-program $<TARGET_FILE:${_kel_program}>)
  endif()
endforeach()
add_test(NAME windows_files
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows_files_test.sh ${_kel_triplet}
                 ${_kel_files_args}
                 --entry-library $<TARGET_FILE:kelbtrv> --entry-library $<TARGET_FILE:btrcount>
                 --program $<TARGET_FILE:kelbtrv_gnu_decorated>
                 --decorated BTRCALL@28=$<TARGET_FILE:kelbtrv_gnu_decorated>
                 --decorated _BTRCALL@28=$<TARGET_FILE:kelbtrv_ms_decorated>)
set_tests_properties(windows_files PROPERTIES SKIP_RETURN_CODE 77)

if(NOT KEL_TESTS)
  return()
endif()

if(TARGET tavireno AND TARGET mkinstall)
  add_executable(conversion_check e2e/conversion_check.cc)
  target_link_libraries(conversion_check PRIVATE kel_options kel_mkinstall kel_recman)
  add_test(NAME e2e_windows_tavireno
           COMMAND bash ${KEL_E2E_DIR}/windows_tavireno_test.sh $<TARGET_FILE:tavireno>
                   $<TARGET_FILE:mkinstall> $<TARGET_FILE:conversion_check>
                   ${PROJECT_SOURCE_DIR}/scripts/wine-run "${KEL_LINUX_BIN_DIR}")
  set_tests_properties(e2e_windows_tavireno PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600
                       LABELS e2e)
endif()

# The program and recutil through the installed record manager's library
# ([Dades] Gestor naming the stand-in kelbtrv.dll by a Z:\ path, behind the
# counting library btrcount.dll), and the library that cannot be used.
if(TARGET tavireno AND TARGET mkinstall AND TARGET recutil)
  add_test(NAME e2e_windows_manager
           COMMAND bash ${KEL_E2E_DIR}/windows_manager_test.sh $<TARGET_FILE:tavireno>
                   $<TARGET_FILE:mkinstall> $<TARGET_FILE:conversion_check>
                   $<TARGET_FILE:recutil> $<TARGET_FILE:kelbtrv> $<TARGET_FILE:btrcount>
                   $<TARGET_FILE:kel_probe_library> ${PROJECT_SOURCE_DIR}/scripts/wine-run
                   "${KEL_PROBE_OTHER_WIDTH_DLL}")
  set_tests_properties(e2e_windows_manager PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900
                       LABELS e2e)
endif()
