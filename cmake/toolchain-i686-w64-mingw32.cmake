# Cross build for 32-bit Windows (g++-mingw-w64-i686): the product.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
