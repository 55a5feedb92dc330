# Small helpers shared by every component.

# Warnings used by all first-party targets.
function(dbpf_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow)
  if(DBPF_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# GoogleTest: the system package natively, Debian's sources for the Windows build.
macro(dbpf_find_gtest)
  if(CMAKE_CROSSCOMPILING)
    set(DBPF_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(${DBPF_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
      add_library(GTest::gmock ALIAS gmock)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endmacro()

# dbpf_add_library(<name> EXPORT_DEFINE <macro> SOURCES ... [LINKS ...])
# One of the six deliverables: a shared library with hidden visibility whose public header
# lives in include/ of the calling directory. On Windows it is <name>.dll with an import library.
function(dbpf_add_library name)
  cmake_parse_arguments(ARG "" "EXPORT_DEFINE" "SOURCES;LINKS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:include>)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_compile_definitions(${name} PRIVATE ${ARG_EXPORT_DEFINE})
  if(ARG_LINKS)
    target_link_libraries(${name} PRIVATE ${ARG_LINKS})
  endif()
  if(WIN32)
    set_target_properties(${name} PROPERTIES PREFIX "")
  else()
    if(NOT DBPF_BUILD_FUZZ)
      target_link_options(${name} PRIVATE -Wl,--no-undefined)
    endif()
    if(NOT APPLE)
      # What the static platform pieces define (and the library templates they instantiate)
      # stays inside: the library exports its header's interface only.
      target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
    endif()
  endif()
  dbpf_warnings(${name})
endfunction()

# dbpf_check_exports(<target> HEADER <public header> API <export macro> [DEF <.def file>]
#                    [ALLOW <regex of further names a library exports on purpose>])
# A test that reads the library's export table and compares it with its public header (see
# cmake/check_exports.py): every function and member the header exports must be there, and on
# ELF nothing else but the platform classes listed in cmake/exported_platform_classes.txt. With
# DEF, the module-definition file shipped for other toolchains must list exactly the header's C
# exports. It reads files on the host, so every build registers it, the 32-bit one included.
find_program(DBPF_PYTHON3 python3)
find_program(DBPF_CLANGXX NAMES clang++ clang++-14)
function(dbpf_check_exports target)
  cmake_parse_arguments(ARG "" "HEADER;API;DEF;ALLOW" "" ${ARGN})
  if(NOT DBPF_BUILD_TESTS)
    return()
  endif()
  set(test_name ${target}_exports)
  if(NOT DBPF_PYTHON3 OR NOT DBPF_CLANGXX)
    # Reported as skipped (not passed) where the host lacks the tools; scripts/setup installs both.
    add_test(NAME ${test_name} COMMAND ${CMAKE_COMMAND} -E echo
             "skipped: python3 and clang++ are needed to read the header")
    set_tests_properties(${test_name} PROPERTIES SKIP_REGULAR_EXPRESSION "skipped")
    return()
  endif()
  if(WIN32)
    set(table objdump)
    set(tool ${CMAKE_OBJDUMP})
    set(triple --target=${DBPF_MINGW_TRIPLE})
    set(defs --define WIN32_LEAN_AND_MEAN --define NOMINMAX --define _WIN32_WINNT=0x0601)
    # clang reads the header with the cross compiler's own C++ library headers.
    foreach(dir IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
      if(dir MATCHES "/c\\+\\+")
        list(APPEND defs --cxx-include ${dir})
      endif()
    endforeach()
  else()
    set(table nm)
    set(tool ${CMAKE_NM})
    set(triple "")
    set(defs "")
  endif()
  if(ARG_DEF)
    set(def_arg --def ${ARG_DEF})
  endif()
  if(ARG_ALLOW)
    list(APPEND def_arg --allow "${ARG_ALLOW}")
  endif()
  # The header is read as a client reads it: its own folder and the platform's public headers.
  get_filename_component(header_dir ${ARG_HEADER} DIRECTORY)
  set(includes "")
  foreach(dir ${header_dir} ${PROJECT_SOURCE_DIR}/platform/core/include
          ${PROJECT_SOURCE_DIR}/platform/win32/resources/include
          ${PROJECT_SOURCE_DIR}/platform/win32/shell/include
          ${PROJECT_SOURCE_DIR}/platform/imaging/include)
    list(APPEND includes --include ${dir})
  endforeach()
  add_test(NAME ${test_name}
    COMMAND ${DBPF_PYTHON3} ${PROJECT_SOURCE_DIR}/cmake/check_exports.py
            --library $<TARGET_FILE:${target}> --header ${ARG_HEADER} --api ${ARG_API}
            --table ${table} --tool ${tool} --clang ${DBPF_CLANGXX} ${triple} ${defs} ${def_arg}
            --allow-file ${PROJECT_SOURCE_DIR}/cmake/exported_platform_classes.txt ${includes})
  set_tests_properties(${test_name} PROPERTIES LABELS export)
endfunction()

# dbpf_add_test(<name> SOURCES ... [LINKS ...] [LABELS ...])
# A GoogleTest executable. Natively every test case is its own CTest entry; the Windows build
# registers the whole executable once and runs it under Wine (listing cases through Wine for
# every build would cost more than it tells).
function(dbpf_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest_main GTest::gtest)
  dbpf_warnings(${name})
  if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    # Built (so that it stays warning-free) but nothing here can run it.
  elseif(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "WINEDEBUG=-all" LABELS "${ARG_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# Tests that run concurrent calls carry the label "threads"; the ThreadSanitizer build of
# scripts/test runs only those.
