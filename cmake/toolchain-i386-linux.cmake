# The library's portable code as 32-bit x86 Linux programs (g++-multilib),
# for the cases that only a 32-bit build reaches: the record's UserData slot
# holding the block's own pointer, long double as 12 bytes around the 80-bit
# values, the x87 state around the exports.  Everything is linked
# statically, GoogleTest included (built from /usr/src/googletest), so the
# programs need no i386 library on the machine.  cmake/i386-run.sh runs
# them, natively where the kernel can and under qemu-i386-static elsewhere.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")

set(ARDUINO_BLOCK_PORTABLE_ONLY ON CACHE BOOL "" FORCE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/i386-run.sh)
