# The 64-bit twins of the Windows programs, for machines that cannot run 32-bit x86 code
# (scripts/wine-env.sh): the same sources, built for 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KOVELA_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
