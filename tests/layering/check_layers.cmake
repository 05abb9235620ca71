# Checks that the layering is a rule of the build: with each layer's include directories, the
# compiler finds the headers of that layer and of the layers below it, and none of the engine
# layer's own headers (src/cef/wpe, src/cef/webext) or of a layer above, however a source spells
# them.
#
#   cmake -DCXX=<compiler> -DSOURCE_DIR=<repository> -DWORK_DIR=<scratch folder>
#         -DBASE_DIRS=<a|b|...> -DENGINE_DIRS=<...> -DEXPORTS_DIRS=<...> -P check_layers.cmake

cmake_minimum_required(VERSION 3.20)
file(MAKE_DIRECTORY ${WORK_DIR})
set(failures 0)

# Lists the dependencies of a source that includes every header of `found` and `missing` with
# the directories `dirs` (separated by |); missing headers are kept in the list as they are
# spelled (-MG), found ones under the folder they were found in. Each of `found` must be found
# and each of `missing` must not.
function(check layer dirs found missing)
  string(REPLACE "|" ";" dirs "${dirs}")
  set(flags "")
  foreach(dir IN LISTS dirs)
    list(APPEND flags -I${dir})
  endforeach()
  set(source ${WORK_DIR}/${layer}.cpp)
  set(text "")
  foreach(header IN LISTS found missing)
    string(APPEND text "#include \"${header}\"\n")
  endforeach()
  file(WRITE ${source} "${text}")
  execute_process(COMMAND ${CXX} -std=c++20 -MM -MG ${flags} ${source}
    RESULT_VARIABLE result OUTPUT_VARIABLE deps ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(SEVERE_WARNING "${layer}: the dependency scan failed:\n${errors}")
    math(EXPR failures "${failures} + 1")
  endif()
  string(REGEX REPLACE "[\\\\\n\t ]+" ";" deps "${deps}")
  foreach(header IN LISTS found)
    list(FIND deps "${header}" bare)
    if(NOT bare EQUAL -1)
      message(SEVERE_WARNING "${layer}: \"${header}\" should be found")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
  foreach(header IN LISTS missing)
    list(FIND deps "${header}" bare)
    if(bare EQUAL -1)
      message(SEVERE_WARNING "${layer}: \"${header}\" is within its reach")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
  set(failures ${failures} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE engine_headers RELATIVE ${SOURCE_DIR}/src/cef ${SOURCE_DIR}/src/cef/wpe/*.h
  ${SOURCE_DIR}/src/cef/webext/*.h)
list(LENGTH engine_headers count)
if(count LESS 10)
  message(FATAL_ERROR "only ${count} engine headers found under ${SOURCE_DIR}/src/cef")
endif()
set(engine_spellings "")
foreach(header IN LISTS engine_headers)
  get_filename_component(name ${header} NAME)
  list(APPEND engine_spellings ${header} cef/${header} src/cef/${header} ${name})
endforeach()
set(above client/web_client.h application/web_application.h controller/web_controller.h)
# src/ itself is on no layer's path.
set(from_src src/client/web_client.h src/diagnostics/debug_log.h)

# The base sees itself only.
check(base "${BASE_DIRS}" "diagnostics/debug_log.h;platform/utf.h"
  "cef_app.h;${above};${from_src};${engine_spellings}")
# The engine layer sees the base and its own headers, and nothing of the layers above it.
check(engine "${ENGINE_DIRS}" "wpe/browser_impl.h;webext/protocol.h;diagnostics/debug_log.h"
  "${above};${from_src};quillo.h")
# The exports' layers see the base, the engine's interface and include/, and no engine header.
check(exports "${EXPORTS_DIRS}"
  "quillo.h;cef_app.h;cef_client.h;${above};diagnostics/debug_log.h"
  "${from_src};${engine_spellings}")

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} include(s) break the layering")
endif()
message(STATUS "layering kept: ${count} engine headers out of the exports' reach")
