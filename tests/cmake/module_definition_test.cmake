# The module-definition text written from an export list: decorated for 32-bit
# x86, plain for x86-64, PRIVATE kept, comments and blank lines skipped; a list
# it cannot read stops the configuration. cmake -DWORK_DIR=... -P this file.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/module_definition.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

file(WRITE ${WORK_DIR}/good.exports "# a comment line\n\nFirst 0\n  Second\t12   # trailing comment\nThird 8 PRIVATE\n")
kovic_module_definition_text(decorated ${WORK_DIR}/good.exports sample.dll ON)
kovic_module_definition_text(plain ${WORK_DIR}/good.exports sample.dll OFF)
set(want_decorated "LIBRARY sample.dll\nEXPORTS\n    First@0\n    Second@12\n    Third@8 PRIVATE\n")
set(want_plain "LIBRARY sample.dll\nEXPORTS\n    First\n    Second\n    Third PRIVATE\n")
if(NOT decorated STREQUAL want_decorated)
  message(FATAL_ERROR "32-bit text:\n${decorated}\nexpected:\n${want_decorated}")
endif()
if(NOT plain STREQUAL want_plain)
  message(FATAL_ERROR "64-bit text:\n${plain}\nexpected:\n${want_plain}")
endif()

# Each bad list must stop a configuration that reads it, naming the fault.
set(bad_lists
  "no-bytes|First\n|has no argument byte count"
  "bytes-not-a-number|First four\n|cannot read"
  "unknown-flag|First 0 PUBLIC\n|is not PRIVATE"
  "too-many-fields|First 0 PRIVATE extra\n|cannot read"
  "decorated-name|First@4 4\n|cannot read"
  "only-comments|# nothing\n\n|names no export")
foreach(case IN LISTS bad_lists)
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 name)
  list(GET case 1 content)
  list(GET case 2 message)
  file(WRITE ${WORK_DIR}/${name}.exports "${content}")
  file(WRITE ${WORK_DIR}/${name}.cmake
       "include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/module_definition.cmake)\n"
       "kovic_module_definition_text(text ${WORK_DIR}/${name}.exports bad.dll ON)\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -P ${WORK_DIR}/${name}.cmake RESULT_VARIABLE r ERROR_VARIABLE err)
  if(r EQUAL 0)
    message(FATAL_ERROR "${name}: the list was accepted")
  endif()
  string(FIND "${err}" "${message}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${name}: expected '${message}', got:\n${err}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
