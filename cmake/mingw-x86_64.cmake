# 64-bit Windows. Same sources as the 32-bit build; its tests run under 64-bit Wine, which
# works on every x86-64 Linux, so the Windows behaviour of the suite is exercised on every run.
set(DBPF_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

find_program(DBPF_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
if(NOT DBPF_WINE64)
  find_program(DBPF_WINE64 NAMES wine64 wine)
endif()
if(DBPF_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DBPF_WINE64})
endif()
