# The DLLs a Windows build needs beside its programs, as found on the machine
# that cross-builds it: Qt's own, with the platform and style plugins, and the
# MinGW-w64 runtime the compiler links against.

get_target_property(linkprobe_qtcore_dll Qt6::Core LOCATION)
get_filename_component(LINKPROBE_QT_BIN_DIR ${linkprobe_qtcore_dll} DIRECTORY)
get_filename_component(LINKPROBE_QT_PLUGIN_DIR ${LINKPROBE_QT_BIN_DIR}/../plugins ABSOLUTE)

set(LINKPROBE_MINGW_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${dll} of the MinGW-w64 runtime not found beside ${CMAKE_CXX_COMPILER}")
  endif()
  get_filename_component(path ${path} REALPATH)
  list(APPEND LINKPROBE_MINGW_RUNTIME_DLLS ${path})
endforeach()
