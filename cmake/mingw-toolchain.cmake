# Cross-compiling for Windows with MinGW-w64; KOVELA_MINGW_TRIPLE names the target. The
# posix-thread variant is used throughout: GoogleTest needs it for the Windows test programs,
# and with -static the product still imports only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KOVELA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOVELA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KOVELA_MINGW_TRIPLE}-windres)
# The target's headers and libraries sit beside the compiler: <prefix>/bin/<gcc>, <prefix>/<triple>.
find_program(KOVELA_MINGW_GCC ${KOVELA_MINGW_TRIPLE}-gcc-posix REQUIRED)
get_filename_component(_mingw_prefix ${KOVELA_MINGW_GCC} DIRECTORY)
get_filename_component(_mingw_prefix ${_mingw_prefix}/.. ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH ${_mingw_prefix}/${KOVELA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
