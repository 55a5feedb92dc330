# Checks that a shared library exports exactly its interface. Run as a script:
#
#   cmake -DLIBRARY=<file> -DTOOL=<nm or objdump> -DALLOWED=<regex>
#         [-DREQUIRED=<name,name,...>] -P CheckExports.cmake
#
# TOOL decides how the export table is read: a tool whose name contains "objdump" reads a PE
# DLL's export table (`objdump -p`, the "[Ordinal/Name Pointer] Table" section); any other tool
# is taken to be nm and reads an ELF or Mach-O library (`nm -D --defined-only`, or `nm -gU` on
# Apple). Every exported name must match ALLOWED as a whole; every name in REQUIRED must be
# present, so that a table that could not be read never passes. Fails with the offending names.
# Symbols that sanitizers add (__odr_asan.*, __asan_*, ...) are disregarded.
#
# From CMake, register it for a target like this:
#   add_test(NAME foo_exports COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:Foo>
#            -DTOOL=${CMAKE_NM} "-DALLOWED=^(FooCall|fnFoo)$" -DREQUIRED=FooCall,fnFoo
#            -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)
# (REQUIRED takes commas, because add_test would split a ';' list into separate arguments.)

cmake_minimum_required(VERSION 3.20)

foreach(var LIBRARY TOOL ALLOWED)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "CheckExports: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${LIBRARY}")
  message(FATAL_ERROR "CheckExports: ${LIBRARY} does not exist")
endif()

string(REPLACE "," ";" REQUIRED "${REQUIRED}")

get_filename_component(tool_name "${TOOL}" NAME)
set(names "")
if(tool_name MATCHES "objdump")
  execute_process(COMMAND "${TOOL}" -p "${LIBRARY}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "CheckExports: ${TOOL} -p failed: ${err}")
  endif()
  # The name table follows its heading; each entry reads "\t[   0] Name". Only lines of that
  # shape after the heading count, up to the first line that is not one.
  string(REPLACE ";" "\\;" out "${out}")
  string(REPLACE "\n" ";" lines "${out}")
  set(in_table FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
      set(in_table TRUE)
    elseif(in_table)
      if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] +([^ \t]+)")
        list(APPEND names "${CMAKE_MATCH_1}")
      elseif(NOT line STREQUAL "")
        set(in_table FALSE)
      endif()
    endif()
  endforeach()
else()
  if(APPLE)
    set(nm_args -gU)
  else()
    set(nm_args -D --defined-only)
  endif()
  execute_process(COMMAND "${TOOL}" ${nm_args} "${LIBRARY}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "CheckExports: ${TOOL} ${nm_args} failed: ${err}")
  endif()
  string(REPLACE ";" "\\;" out "${out}")
  string(REPLACE "\n" ";" lines "${out}")
  foreach(line IN LISTS lines)
    # "<address> <type> <name>"; names may carry a version suffix ("name@@VER").
    if(line MATCHES "^[0-9a-fA-F]+ +[A-Za-z] +([^ @]+)")
      set(name "${CMAKE_MATCH_1}")
      if(APPLE)
        string(REGEX REPLACE "^_" "" name "${name}")
      endif()
      list(APPEND names "${name}")
    endif()
  endforeach()
endif()

# Sanitizer builds add symbols of their own (AddressSanitizer's ODR indicators
# "__odr_asan.<variable>"); they are instrumentation, not interface.
set(unexpected "")
foreach(name IN LISTS names)
  if(name MATCHES "^__(odr_asan|asan|ubsan|tsan|sanitizer)")
    continue()
  endif()
  if(NOT name MATCHES "${ALLOWED}")
    list(APPEND unexpected "${name}")
  endif()
endforeach()
set(missing "")
foreach(name IN LISTS REQUIRED)
  if(NOT name IN_LIST names)
    list(APPEND missing "${name}")
  endif()
endforeach()

if(unexpected OR missing)
  message(FATAL_ERROR "CheckExports: ${LIBRARY}\n"
                      "  exported: ${names}\n"
                      "  not allowed: ${unexpected}\n"
                      "  missing: ${missing}")
endif()
list(LENGTH names count)
message(STATUS "CheckExports: ${LIBRARY}: ${count} exports, all allowed")
