# 32-bit Windows, the suite's own target.
#
# Running the tests needs a Wine that can execute 32-bit code. Where the kernel cannot run
# 32-bit programs (no IA-32 emulation) Wine's 32-bit loader does not start, so the tests of
# this build are compiled but only run when DBPF_WINE32 names a working 32-bit wine command.
# The export tables are checked with objdump either way.
set(DBPF_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

if(DEFINED ENV{DBPF_WINE32} AND NOT "$ENV{DBPF_WINE32}" STREQUAL "")
  set(CMAKE_CROSSCOMPILING_EMULATOR $ENV{DBPF_WINE32})
endif()
