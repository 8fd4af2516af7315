# Cross-build for 64-bit Windows with Debian's g++-mingw-w64-x86-64:
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
# The plug-ins are named .dll and import Pd's API from pd.dll (see PdModule.cmake). Pd's header is
# the same on every system and branches on _WIN32/_WIN64 itself, so the host's copy serves.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_DLLTOOL x86_64-w64-mingw32-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
# Windows guarantees 16-byte stack alignment only, and GCC for Windows has been known to move 32-
# and 64-byte vector registers to and from the stack with aligned moves all the same, which fault
# in the AVX2 and AVX-512 builds of the hot loops. GCC 12 emits none here; so that no compiler
# version can, the assembler writes every aligned vector move as its unaligned twin, which runs
# as fast on aligned data and computes the same (tests/windows/check_disassembly.sh).
# The C library's math header names M_PI and its kin only on request, where glibc's does so by
# default; the values are the same literals.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move -D_USE_MATH_DEFINES")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move -D_USE_MATH_DEFINES")
# Programs carry the compiler's runtime inside, so that they need only Windows' own libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Build-time tools (the demo recordings' writer) run under Wine when it is there, in a prefix of
# this build folder's own.
if(EXISTS /usr/lib/wine/wine64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh
        ${CMAKE_BINARY_DIR}/wine)
endif()
