# Installation: `cmake --install <build> --prefix <dir>` puts in place
#   lib/ (bin/ for DLLs)   the six libraries and DbpfPackage (Windows: the DLLs and their import
#                          libraries, and Quorrin.def and Nimbrel.def beside their DLLs)
#   lib/                   the platform class layer (static) that clients of the class libraries
#                          link themselves, and on POSIX the stand-ins that Pellisk's clients need
#   include/               the public headers and the platform headers they include
#   lib/cmake/DbpfSuite/   find_package(DbpfSuite [COMPONENTS ...]): imported targets
#                          DbpfSuite::Quorrin ... DbpfSuite::Pellisk, DbpfSuite::Package
#   lib/pkgconfig/         one .pc file per library (quorrin.pc ... pellisk.pc, dbpfpackage.pc)
#   bin/                   dbpftool
#   share/man/man1/        dbpftool.1 (native builds, when help2man is present)
#   share/bash-completion/completions/dbpftool
# Only libraries that are part of the build are installed; the package offers exactly those.
#
# The package files are written here rather than exported from the targets: the libraries link
# static platform pieces privately, and a client needs only a few of them, with paths under the
# installed prefix.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(DBPF_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/DbpfSuite)
set(DBPF_INSTALL_GEN ${CMAKE_BINARY_DIR}/dbpf_install)

# name, directory of its public header, header, pkg-config name, description.
# The package library is a client of Quorrin: its CMake target is DbpfSuite::Package (the
# component "Package") and its clients link Quorrin as well.
set(DBPF_INSTALL_LIBRARIES
    "Quorrin|entry_codec|quorrin.h|quorrin|DBPF package entry codec"
    "Nimbrel|md5_digest|nimbrel.h|nimbrel|MD5 digest of a byte buffer"
    "Corvane|path_toolkit|corvane.h|corvane|Paths and command lines (CPath)"
    "Talmoor|token_parser|talmoor.h|talmoor|Token recogniser (CParser)"
    "Edrith|version_info|edrith.h|edrith|Version-resource reader (CFileVersionInfo)"
    "Pellisk|bitmap_loader|pellisk.h|pellisk|Bitmap resource loader (CGdiPlusBitmapResource)"
    "DbpfPackage|package|dbpf_package.h|dbpfpackage|Reading, checking and writing DBPF package files")

# The name a library has as a CMake component and imported target (DbpfSuite::<name>).
function(dbpf_component_name lib out)
  if(lib STREQUAL "DbpfPackage")
    set(${out} Package PARENT_SCOPE)
  else()
    set(${out} ${lib} PARENT_SCOPE)
  endif()
endfunction()

# Platform pieces a client links itself: what the class libraries' headers use.
#   platform_core: CString and the other classes (Corvane, Talmoor, Edrith, Pellisk).
#   POSIX only, for Pellisk's clients: the GDI+ stand-in and the module-handle stand-in
#   (LoadLibraryExA), with the PE reader beneath it.
set(DBPF_INSTALL_STATIC platform_core)
if(NOT WIN32)
  list(APPEND DBPF_INSTALL_STATIC platform_imaging platform_win32_resources platform_pe_reader)
endif()

set(dbpf_installed "")
set(dbpf_installed_targets "")
foreach(entry IN LISTS DBPF_INSTALL_LIBRARIES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 lib)
  if(TARGET ${lib})
    dbpf_component_name(${lib} component)
    list(APPEND dbpf_installed ${component})
    list(APPEND dbpf_installed_targets ${lib})
  endif()
endforeach()

if(dbpf_installed)
  foreach(target IN LISTS DBPF_INSTALL_STATIC)
    if(TARGET ${target})
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "STATIC_LIBRARY")
        install(TARGETS ${target} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
      endif()
    endif()
  endforeach()
  # The platform headers the public headers include (and the stand-ins' declarations).
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/core/include/platform
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  foreach(dir win32/resources/include imaging/include)
    if(EXISTS ${PROJECT_SOURCE_DIR}/platform/${dir}/platform)
      install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/${dir}/platform
              DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    endif()
  endforeach()
endif()

if(TARGET dbpftool)
  install(TARGETS dbpftool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Its man page (native builds with help2man) and its bash completion.
  if(DBPF_TOOL_MANPAGE)
    install(FILES ${DBPF_TOOL_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES ${DBPF_TOOL_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME dbpftool)
endif()

# The 32-bit Windows build shares the compiler's runtime DLLs between its modules (see the top
# level); they go beside the libraries.
if(DBPF_RUNTIME_DLLS)
  install(FILES ${DBPF_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# What a client of each library links besides the library: CMake target names (config file)
# and linker flags (pkg-config).
if(WIN32)
  set(dbpf_core_cmake "DbpfSuite::platform_core")
  set(dbpf_core_pc "-lplatform_core")
  set(dbpf_pellisk_cmake "DbpfSuite::platform_core;gdiplus;ole32")
  set(dbpf_pellisk_pc "-lplatform_core -lgdiplus -lole32")
  set(dbpf_pellisk_requires "")
else()
  set(dbpf_core_cmake "DbpfSuite::platform_core")
  if(CMAKE_DL_LIBS)
    set(dbpf_core_pc "-lplatform_core -l${CMAKE_DL_LIBS}")
  else()
    set(dbpf_core_pc "-lplatform_core")
  endif()
  set(dbpf_pellisk_cmake "DbpfSuite::platform_imaging;DbpfSuite::platform_win32_resources;DbpfSuite::platform_core")
  set(dbpf_pellisk_pc
      "-lplatform_imaging -lplatform_win32_resources -lplatform_pe_reader ${dbpf_core_pc} -lgif")
  set(dbpf_pellisk_requires "Requires: libpng libjpeg libtiff-4 icu-uc")
endif()

# pkg-config files. The class libraries' clients link the static platform pieces, so those
# stand in Libs (not Libs.private).
foreach(entry IN LISTS DBPF_INSTALL_LIBRARIES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 lib)
  list(GET parts 1 dir)
  list(GET parts 2 header)
  list(GET parts 3 pc)
  list(GET parts 4 description)
  if(NOT TARGET ${lib})
    continue()
  endif()
  install(TARGETS ${lib}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/${dir}/include/${header}
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  # The plain C libraries ship a module-definition file beside the DLL, from which any Windows
  # toolchain makes an import library.
  if(WIN32 AND EXISTS ${PROJECT_SOURCE_DIR}/${dir}/${lib}.def)
    install(FILES ${PROJECT_SOURCE_DIR}/${dir}/${lib}.def DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()

  set(extra_libs "")
  set(extra_requires "")
  if(lib STREQUAL "Pellisk")
    set(extra_libs " ${dbpf_pellisk_pc}")
    set(extra_requires "${dbpf_pellisk_requires}\n")
  elseif(lib STREQUAL "DbpfPackage")
    set(extra_libs " -lQuorrin")
  elseif(NOT lib MATCHES "^(Quorrin|Nimbrel)$")
    set(extra_libs " ${dbpf_core_pc}")
  endif()
  file(WRITE ${DBPF_INSTALL_GEN}/${pc}.pc.in
"prefix=@DBPF_PC_PREFIX@
exec_prefix=\${prefix}
libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}
includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}

Name: ${lib}
Description: ${description}
Version: ${PROJECT_VERSION}
${extra_requires}Libs: -L\${libdir} -l${lib}${extra_libs}
Cflags: -I\${includedir}
")
  # The prefix is the one given to `cmake --install --prefix`, known only at install time.
  install(CODE "
    set(DBPF_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${DBPF_INSTALL_GEN}/${pc}.pc.in\" \"${DBPF_INSTALL_GEN}/install/${pc}.pc\" @ONLY)
    file(INSTALL \"${DBPF_INSTALL_GEN}/install/${pc}.pc\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")")
endforeach()

# The CMake package. Paths are relative to the config file, so the installed tree can move.
if(dbpf_installed)
  set(config "# DbpfSuite: imported targets of the installed libraries.
#   find_package(DbpfSuite [COMPONENTS Quorrin Nimbrel Corvane Talmoor Edrith Pellisk Package])
cmake_minimum_required(VERSION 3.20)
get_filename_component(_dbpf_prefix \"\${CMAKE_CURRENT_LIST_DIR}/../../..\" ABSOLUTE)
set(DbpfSuite_AVAILABLE_COMPONENTS ${dbpf_installed})
include(CMakeFindDependencyMacro)

if(NOT TARGET DbpfSuite::platform_core)
  add_library(DbpfSuite::platform_core STATIC IMPORTED)
  set_target_properties(DbpfSuite::platform_core PROPERTIES
    IMPORTED_LOCATION \"\${_dbpf_prefix}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:platform_core>\"
    INTERFACE_INCLUDE_DIRECTORIES \"\${_dbpf_prefix}/${CMAKE_INSTALL_INCLUDEDIR}\"
    INTERFACE_LINK_LIBRARIES \"${CMAKE_DL_LIBS}\")
endif()
")
  if(NOT WIN32 AND TARGET Pellisk)
    string(APPEND config "
if(NOT TARGET DbpfSuite::platform_imaging)
  find_dependency(ICU COMPONENTS uc)
  find_dependency(PNG)
  find_dependency(JPEG)
  find_dependency(GIF)
  find_dependency(TIFF)
  add_library(DbpfSuite::platform_pe_reader STATIC IMPORTED)
  set_target_properties(DbpfSuite::platform_pe_reader PROPERTIES
    IMPORTED_LOCATION \"\${_dbpf_prefix}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:platform_pe_reader>\"
    INTERFACE_INCLUDE_DIRECTORIES \"\${_dbpf_prefix}/${CMAKE_INSTALL_INCLUDEDIR}\"
    INTERFACE_LINK_LIBRARIES \"ICU::uc;DbpfSuite::platform_core\")
  add_library(DbpfSuite::platform_win32_resources STATIC IMPORTED)
  set_target_properties(DbpfSuite::platform_win32_resources PROPERTIES
    IMPORTED_LOCATION \"\${_dbpf_prefix}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:platform_win32_resources>\"
    INTERFACE_LINK_LIBRARIES \"DbpfSuite::platform_pe_reader;ICU::uc\")
  add_library(DbpfSuite::platform_imaging STATIC IMPORTED)
  set_target_properties(DbpfSuite::platform_imaging PROPERTIES
    IMPORTED_LOCATION \"\${_dbpf_prefix}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:platform_imaging>\"
    INTERFACE_INCLUDE_DIRECTORIES \"\${_dbpf_prefix}/${CMAKE_INSTALL_INCLUDEDIR}\"
    INTERFACE_LINK_LIBRARIES \"PNG::PNG;JPEG::JPEG;GIF::GIF;TIFF::TIFF;DbpfSuite::platform_core\")
endif()
")
  endif()
  foreach(lib IN LISTS dbpf_installed_targets)
    dbpf_component_name(${lib} component)
    if(lib STREQUAL "Pellisk")
      set(links "${dbpf_pellisk_cmake}")
    elseif(lib STREQUAL "DbpfPackage")
      set(links "DbpfSuite::Quorrin")
    elseif(lib MATCHES "^(Quorrin|Nimbrel)$")
      set(links "")
    else()
      set(links "${dbpf_core_cmake}")
    endif()
    if(WIN32)
      set(location "\${_dbpf_prefix}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${lib}>")
      set(implib "\n    IMPORTED_IMPLIB \"\${_dbpf_prefix}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_LINKER_FILE_NAME:${lib}>\"")
    else()
      set(location "\${_dbpf_prefix}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${lib}>")
      set(implib "\n    IMPORTED_SONAME \"$<TARGET_SONAME_FILE_NAME:${lib}>\"")
    endif()
    string(APPEND config "
if(NOT TARGET DbpfSuite::${component})
  add_library(DbpfSuite::${component} SHARED IMPORTED)
  set_target_properties(DbpfSuite::${component} PROPERTIES
    IMPORTED_LOCATION \"${location}\"${implib}
    INTERFACE_INCLUDE_DIRECTORIES \"\${_dbpf_prefix}/${CMAKE_INSTALL_INCLUDEDIR}\"
    INTERFACE_LINK_LIBRARIES \"${links}\")
endif()
")
  endforeach()
  string(APPEND config "
# Components: every requested library must be part of this installation.
foreach(_dbpf_comp IN LISTS DbpfSuite_FIND_COMPONENTS)
  if(TARGET DbpfSuite::\${_dbpf_comp})
    set(DbpfSuite_\${_dbpf_comp}_FOUND TRUE)
  else()
    set(DbpfSuite_\${_dbpf_comp}_FOUND FALSE)
    if(DbpfSuite_FIND_REQUIRED_\${_dbpf_comp})
      set(DbpfSuite_FOUND FALSE)
      set(DbpfSuite_NOT_FOUND_MESSAGE \"component \${_dbpf_comp} is not installed (available: \${DbpfSuite_AVAILABLE_COMPONENTS})\")
    endif()
  endif()
endforeach()
unset(_dbpf_comp)
unset(_dbpf_prefix)
")
  file(GENERATE OUTPUT ${DBPF_INSTALL_GEN}/DbpfSuiteConfig.cmake CONTENT "${config}")
  write_basic_package_version_file(${DBPF_INSTALL_GEN}/DbpfSuiteConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
  install(FILES ${DBPF_INSTALL_GEN}/DbpfSuiteConfig.cmake
                ${DBPF_INSTALL_GEN}/DbpfSuiteConfigVersion.cmake
          DESTINATION ${DBPF_INSTALL_CMAKEDIR})
endif()

# The test: install this build into a directory of the build tree, then configure, build and
# run (natively and under Wine for the 64-bit Windows build) a small outside project against
# it, once through find_package and once through pkg-config.
if(DBPF_BUILD_TESTS AND dbpf_installed AND EXISTS ${PROJECT_SOURCE_DIR}/tests/install/CMakeLists.txt)
  string(REPLACE ";" "," libraries "${dbpf_installed}")
  set(run_mode build)
  if(NOT CMAKE_CROSSCOMPILING)
    set(run_mode run)
  elseif(CMAKE_CROSSCOMPILING_EMULATOR)
    set(run_mode emulate)
  endif()
  add_test(NAME install_tree
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${CMAKE_BINARY_DIR}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR}/tests/install
      -DWORK_DIR=${CMAKE_BINARY_DIR}/install_test
      -DGENERATOR=${CMAKE_GENERATOR}
      -DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE}
      -DLIBRARIES=${libraries}
      -DMODE=${run_mode}
      "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
      "-DSANITIZE=${DBPF_SANITIZE}"
      -P ${PROJECT_SOURCE_DIR}/tests/install/run_install_test.cmake)
  set_tests_properties(install_tree PROPERTIES RUN_SERIAL TRUE)
endif()
