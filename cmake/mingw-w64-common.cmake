# What the two MinGW-w64 toolchain files share; they set CMAKE_SYSTEM_PROCESSOR
# and VS_MINGW_PREFIX first. The POSIX thread variant of the compilers: the
# engine, the services and the simulated sensor use std::mutex and std::thread,
# which the win32 thread variant lacks. Linking with -static puts winpthread and
# the C++ runtime inside the module, so it needs only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VS_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VS_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VS_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VS_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
