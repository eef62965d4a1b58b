# End-to-end tests of the Windows programs: they run under wine
# (scripts/wine-run, in the prefix of WINEPREFIX) in tmux, driven by bash
# scripts of the build machine. KEL_LINUX_BIN_DIR names a Linux build's
# programs (mkinstall, conversion_check): with it, an installation written
# on Linux is converted by the Windows program and read back on Linux.
set(KEL_LINUX_BIN_DIR "" CACHE PATH "A Linux build's bin folder, for the cross-system test")
set(KEL_E2E_DIR ${CMAKE_CURRENT_SOURCE_DIR}/e2e)

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
