# Cross-compiling the updater for 32-bit Windows with MinGW-w64. The posix-thread variant
# is used throughout: GoogleTest needs it for the Windows test programs, and with -static
# the product still imports only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# The target's headers and libraries sit beside the compiler: <prefix>/bin/<gcc>, <prefix>/i686-w64-mingw32.
find_program(KOVELA_MINGW_GCC i686-w64-mingw32-gcc-posix REQUIRED)
get_filename_component(_mingw_prefix ${KOVELA_MINGW_GCC} DIRECTORY)
get_filename_component(_mingw_prefix ${_mingw_prefix}/.. ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH ${_mingw_prefix}/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
