# Installs a build into a scratch prefix and builds (and where possible runs) the client of
# this directory against it.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... [-DTOOLCHAIN=...]
#         -DLIBRARIES=Quorrin,Nimbrel,... -DMODE=run|emulate|build [-DEMULATOR=...]
#         [-DSANITIZE=address,undefined] -P <this>
cmake_minimum_required(VERSION 3.20)

function(step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  message(STATUS "${what}: ok")
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The files a client needs.
string(REPLACE "," ";" libs "${LIBRARIES}")
set(headers Quorrin:quorrin.h Nimbrel:nimbrel.h Corvane:corvane.h Talmoor:talmoor.h
            Edrith:edrith.h Pellisk:pellisk.h)
set(expected lib/cmake/DbpfSuite/DbpfSuiteConfig.cmake
             lib/cmake/DbpfSuite/DbpfSuiteConfigVersion.cmake include/platform/afx_string.h)
foreach(lib IN LISTS libs)
  string(TOLOWER ${lib} lower)
  set(header ${lower}.h)
  set(file ${lib})
  if(lib STREQUAL "Package") # the component of the DbpfPackage library
    set(header dbpf_package.h)
    set(lower dbpfpackage)
    set(file DbpfPackage)
  endif()
  list(APPEND expected include/${header} lib/pkgconfig/${lower}.pc)
  if(TOOLCHAIN)
    list(APPEND expected bin/${file}.dll lib/lib${file}.dll.a)
  else()
    list(APPEND expected lib/lib${file}.so)
  endif()
endforeach()
if(EXISTS ${BUILD_DIR}/bin/dbpftool.exe)
  list(APPEND expected bin/dbpftool.exe)
elseif(EXISTS ${BUILD_DIR}/bin/dbpftool)
  list(APPEND expected bin/dbpftool)
endif()
foreach(f IN LISTS expected)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
message(STATUS "installed files: ok (${libs})")

# The client: the package by its directory (a cross build searches only its own root), the
# pkg-config files only from the installation.
set(args -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
         -DDbpfSuite_DIR=${prefix}/lib/cmake/DbpfSuite -DDBPF_CLIENT_LIBRARIES=${LIBRARIES})
if(SANITIZE)
  # Libraries built with sanitizers need the client linked with the same runtime.
  list(APPEND args "-DCMAKE_CXX_FLAGS=-fsanitize=${SANITIZE}"
                   "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${SANITIZE}")
endif()
if(TOOLCHAIN)
  list(APPEND args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
  set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
else()
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
endif()
step("configure the client" ${CMAKE_COMMAND} ${args})
step("build the client" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)

set(clients client_cmake)
if(EXISTS ${WORK_DIR}/build/client_pkgconfig OR EXISTS ${WORK_DIR}/build/client_pkgconfig.exe)
  list(APPEND clients client_pkgconfig)
endif()
if(MODE STREQUAL "run")
  foreach(c IN LISTS clients)
    step("run ${c}" ${WORK_DIR}/build/${c})
  endforeach()
elseif(MODE STREQUAL "emulate")
  # Windows finds DLLs beside the executable.
  file(GLOB dlls ${prefix}/bin/*.dll)
  file(COPY ${dlls} DESTINATION ${WORK_DIR}/build)
  foreach(c IN LISTS clients)
    step("run ${c} under ${EMULATOR}" ${EMULATOR} ${WORK_DIR}/build/${c}.exe)
  endforeach()
else()
  message(STATUS "built only: this machine cannot run the client")
endif()
