# Cross build for 64-bit Windows (g++-mingw-w64-x86-64-posix).  Never
# shipped: it runs the same sources under 64-bit Wine on machines whose
# kernel cannot execute the 32-bit product.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
