# Cross build for 64-bit Windows with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZUVO_MINGW_TRIPLE x86_64-w64-mingw32)
set(ZUVO_WINE_ARCH_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
