# Shared part of the mingw-w64 cross toolchains. The including file sets
# ZUVO_MINGW_TRIPLE and ZUVO_WINE_ARCH_DIR before including this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

# The posix-threads flavour of the compilers gives the full standard
# library (std::mutex and friends); -static links its runtime into our
# binaries, so nothing but system DLLs is imported.
find_program(ZUVO_MINGW_CXX NAMES ${ZUVO_MINGW_TRIPLE}-g++-posix ${ZUVO_MINGW_TRIPLE}-g++ REQUIRED)
find_program(ZUVO_MINGW_CC NAMES ${ZUVO_MINGW_TRIPLE}-gcc-posix ${ZUVO_MINGW_TRIPLE}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${ZUVO_MINGW_CXX})
set(CMAKE_C_COMPILER ${ZUVO_MINGW_CC})
set(CMAKE_RC_COMPILER ${ZUVO_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZUVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# widl, the IDL compiler for the type library, and the folder of Wine's
# stdole2.tlb that the library imports.
set(ZUVO_WIDL ${ZUVO_MINGW_TRIPLE}-widl CACHE STRING "IDL compiler")
set(ZUVO_WIDL_TLB_DIR ${ZUVO_WINE_ARCH_DIR} CACHE PATH "Folder holding stdole2.tlb")
set(ZUVO_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "Folder holding Wine's .idl files")
