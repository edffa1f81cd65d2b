# kovic_export_by_module_definition(<target> LIBRARY <dll name> EXPORTS <list file> [DEF_VAR <variable>])
#
# Exports a Windows DLL's functions under their plain names from one list
# shared by every architecture. Each line of the list is a function name, the
# bytes of its arguments on 32-bit x86, and optionally PRIVATE (left out of the
# import library); '#' starts a comment. The module-definition file written
# into the build folder takes the form the target's architecture needs:
# - i686: the stdcall names decorated with their argument bytes (name@bytes),
#   which is how the compiler emits them; --kill-at strips the decoration from
#   the export table, so the DLL exports the plain names;
# - x86-64: the plain names, which is how the compiler emits them there (the
#   64-bit calling convention has no decoration).
# DEF_VAR receives the file's path.
include_guard(GLOBAL)

# kovic_module_definition_text(<variable> <list file> <library> <decorate ON|OFF>):
# the text of the module-definition file; a list that cannot be read stops the
# configuration with a message naming the line.
function(kovic_module_definition_text out list library decorate)
  file(STRINGS ${list} lines)
  set(text "LIBRARY ${library}\nEXPORTS\n")
  set(count 0)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(REGEX MATCHALL "[^ \t]+" fields "${line}")
    list(LENGTH fields n)
    if(n EQUAL 0)
      continue()
    endif()
    list(GET fields 0 name)
    if(n LESS 2)
      message(FATAL_ERROR "${list}: '${name}' has no argument byte count")
    endif()
    list(GET fields 1 bytes)
    if(NOT name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$" OR NOT bytes MATCHES "^[0-9]+$" OR n GREATER 3)
      message(FATAL_ERROR "${list}: cannot read '${line}'")
    endif()
    set(entry "${name}")
    if(decorate)
      set(entry "${name}@${bytes}")
    endif()
    if(n EQUAL 3)
      list(GET fields 2 flag)
      if(NOT flag STREQUAL "PRIVATE")
        message(FATAL_ERROR "${list}: '${flag}' is not PRIVATE")
      endif()
      string(APPEND entry " PRIVATE")
    endif()
    string(APPEND text "    ${entry}\n")
    math(EXPR count "${count} + 1")
  endforeach()
  if(count EQUAL 0)
    message(FATAL_ERROR "${list} names no export")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(kovic_export_by_module_definition target)
  cmake_parse_arguments(ARG "" "LIBRARY;EXPORTS;DEF_VAR" "" ${ARGN})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_EXPORTS})
  set(decorate OFF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(decorate ON)
  endif()
  kovic_module_definition_text(text ${ARG_EXPORTS} ${ARG_LIBRARY} ${decorate})
  file(RELATIVE_PATH source ${PROJECT_SOURCE_DIR} ${ARG_EXPORTS})
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${ARG_LIBRARY}.def)
  # Copied over only when its text changes, so an unchanged list relinks
  # nothing (and copied, not configured: name@bytes must stay as written).
  file(WRITE ${def}.new "; Written by the build from ${source}.\n${text}")
  configure_file(${def}.new ${def} COPYONLY)
  target_link_options(${target} PRIVATE ${def})
  if(decorate)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def})
  if(ARG_DEF_VAR)
    set(${ARG_DEF_VAR} ${def} PARENT_SCOPE)
  endif()
endfunction()
