# Shared part of the mingw-w64 toolchain files. Expects DBPF_MINGW_TRIPLE to be set.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model, so that std::thread and std::mutex exist.
set(CMAKE_C_COMPILER ${DBPF_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DBPF_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${DBPF_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DBPF_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
