# What both Windows cross builds share, with Debian's MinGW-w64 compilers.
# The toolchain file of each build names its target triple in _triple and
# includes this.  Programs built here run on Linux through Wine, which CTest
# and GoogleTest's test discovery start via the emulator below.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX thread model: its libstdc++ has std::mutex and std::thread, which
# GoogleTest needs.  winpthread comes with it and is linked statically below.
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and the DLL carry their own copy of the compiler's runtime
# (libgcc, libstdc++ and, with the POSIX thread model, winpthread), so they
# need nothing but the DLLs that come with Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine in a private prefix under build/, set up on first use; wine-run.sh
# reads from each program whether it needs 32- or 64-bit Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
