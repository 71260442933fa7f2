# A Windows build of the tests runs under Wine on the Linux machine that built
# it. configure writes BUILD/wine-run, which runs any program of the build
# there; CTest starts each test through it, once the wine_prefix fixture has
# made the build's own Wine prefix. Tests that need what only Linux has are
# registered all the same, as skipped, so that every run names them and why.
include(${PROJECT_SOURCE_DIR}/packaging/windows/runtime.cmake)

set(linkprobe_wine_prefix ${CMAKE_BINARY_DIR}/wineprefix)
set(linkprobe_wine_dirs ${LINKPROBE_QT_BIN_DIR})
foreach(dll ${LINKPROBE_MINGW_RUNTIME_DLLS})
  get_filename_component(dir ${dll} DIRECTORY)
  list(APPEND linkprobe_wine_dirs ${dir})
endforeach()
list(REMOVE_DUPLICATES linkprobe_wine_dirs)
list(TRANSFORM linkprobe_wine_dirs PREPEND "Z:")
list(JOIN linkprobe_wine_dirs ";" linkprobe_wine_path)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(linkprobe_wine_run ${CMAKE_BINARY_DIR}/wine-run)

add_test(NAME wine_prefix COMMAND ${linkprobe_wine_run} --prepare)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 180)

# Why the test in src cannot run on Windows, or "" when it can.
function(linkprobe_windows_left_out src out)
  file(STRINGS ${src} linux_only REGEX "#include \"(support/)?(ptyfixture|modemshim)\\.h\"|posix_openpt")
  file(STRINGS ${src} drives_wine REGEX "LINKPROBE_WINDOWS_BUILD")
  file(STRINGS ${src} posix_faults REGEX "::fork\\(|mkfifo|mknod")
  if(drives_wine)
    set(${out} "runs on Linux, where it drives a Windows build under Wine" PARENT_SCOPE)
  elseif(linux_only)
    set(${out} "needs Linux pseudo-terminals (and the modem line shim)" PARENT_SCOPE)
  elseif(posix_faults)
    set(${out} "plays its faults with fork, FIFOs and device nodes, which Windows has not" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

function(linkprobe_leave_out_on_windows name reason)
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "${name}: left out on Windows, ${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "left out on Windows" LABELS linux-only)
endfunction()

function(linkprobe_add_wine_test name)
  add_test(NAME ${name} COMMAND ${linkprobe_wine_run} --qtest $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 300)
endfunction()
