# 32-bit Windows, the suite's own target.
#
# Running the tests needs a Wine that can execute 32-bit code, which only starts where the
# kernel runs 32-bit programs (IA-32 emulation). The tests are registered when DBPF_WINE32 names
# that Wine (scripts/test probes for it and sets it); otherwise they are compiled only. The
# export tables are checked on the host either way.
set(DBPF_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

if(DEFINED ENV{DBPF_WINE32} AND NOT "$ENV{DBPF_WINE32}" STREQUAL "")
  set(CMAKE_CROSSCOMPILING_EMULATOR $ENV{DBPF_WINE32})
endif()
