# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix threads), against the libraries that
# scripts/windows/build-toolchain.sh built into QUILLMARK_WINDOWS_PREFIX. Executables are static: no DLLs
# beside them. ctest runs them under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT QUILLMARK_WINDOWS_PREFIX)
  set(QUILLMARK_WINDOWS_PREFIX "$ENV{QUILLMARK_WINDOWS_PREFIX}")
endif()
if(NOT QUILLMARK_WINDOWS_PREFIX)
  message(FATAL_ERROR "Set QUILLMARK_WINDOWS_PREFIX to the folder scripts/windows/build-toolchain.sh printed")
endif()
# Try-compile projects see the prefix too.
set(ENV{QUILLMARK_WINDOWS_PREFIX} "${QUILLMARK_WINDOWS_PREFIX}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLMARK_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${QUILLMARK_WINDOWS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_PREFIX_PATH "${QUILLMARK_WINDOWS_PREFIX}")

# pkg-config finds the cross-built libraries only, never this machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${QUILLMARK_WINDOWS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# libgcc, libstdc++ and winpthread inside each executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
