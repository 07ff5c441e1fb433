# mkupdater.exe: the authors' tool for Windows, beside build/native/mkupdater. Paths go through
# the wide calls (tools/mkupdater/host_win32.cpp and the seam's file calls, which the updater
# shares: src/platform/files_win32.cpp), PNG through the Windows Imaging Component; static
# runtime, so that it imports nothing from outside the system folder.
file(GLOB TOOL_WIN_SOURCES CONFIGURE_DEPENDS ${TOOL_DIR}/*.cpp)
list(FILTER TOOL_WIN_SOURCES EXCLUDE REGEX "(_posix|/main)\\.cpp$")
add_library(kovela_tool_core STATIC ${PORTABLE_SOURCES} ${SRC}/platform/files_win32.cpp
            ${SRC}/platform/hash_win32.cpp)
target_include_directories(kovela_tool_core PUBLIC ${SRC})
set(TOOL_WIN_DEFS WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601 __USE_MINGW_ANSI_STDIO=1)
target_compile_definitions(kovela_tool_core PUBLIC ${TOOL_WIN_DEFS})
add_executable(mkupdater ${TOOL_WIN_SOURCES})
target_include_directories(mkupdater PRIVATE ${TOOL_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)
target_compile_definitions(mkupdater PRIVATE KOVELA_VERSION="${KOVELA_VERSION}")
include(${CMAKE_CURRENT_LIST_DIR}/libdeflate_mingw.cmake)
target_link_libraries(mkupdater PRIVATE kovela_tool_core deflate_mingw -static z ole32 advapi32)
target_link_options(mkupdater PRIVATE -municode -static -static-libgcc -static-libstdc++ -s)
