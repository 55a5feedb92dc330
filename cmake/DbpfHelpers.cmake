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
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  dbpf_warnings(${name})
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
