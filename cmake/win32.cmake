# The product on Windows (MinGW-w64): updater.exe with its resources, and mkupdater.exe. The
# Windows test programs, the demo's driver and the benchmark drivers build on these from
# tests/, tools/demo/ and bench/.

# Only DLLs that Windows always loads from the system folder (comctl32 comes through the
# manifest); tests/resources/check_imports.py holds the list. winmm is loaded at run time.
set(WIN_LIBS comctl32 ole32 shell32 gdi32 user32 advapi32 uuid)
# The copy animation is drawn by a Python script at build time.
find_program(KOVELA_BUILD_PYTHON python3 REQUIRED NO_CMAKE_FIND_ROOT_PATH)

add_library(kovela_win STATIC ${PORTABLE_SOURCES} ${WIN32_SOURCES})
target_include_directories(kovela_win PUBLIC ${SRC} ${CMAKE_SOURCE_DIR}/res)
target_compile_definitions(kovela_win PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)

# The resources (dialogs, icon, manifest, copy animation, version), compiled once for the
# updater and for the test program that shows the real progress window.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
set(UPDATER_RC ${CMAKE_SOURCE_DIR}/res/updater.rc)
add_library(updater_res OBJECT ${UPDATER_RC})
target_link_libraries(updater_res PRIVATE kovela_win)
# The resource scripts include one file per window; rebuild when any of them changes.
file(GLOB RES_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/*)
set_source_files_properties(${UPDATER_RC} PROPERTIES OBJECT_DEPENDS "${RES_FILES}")

# Copy-progress window: the animation clip is drawn at build time (tools/avigen) into
# generated/filecopy.avi, which res/progress.rc names.
set(AVI_DIR ${CMAKE_BINARY_DIR}/generated)
add_custom_command(OUTPUT ${AVI_DIR}/filecopy.avi
  COMMAND ${CMAKE_COMMAND} -E make_directory ${AVI_DIR}
  COMMAND ${KOVELA_BUILD_PYTHON} ${CMAKE_SOURCE_DIR}/tools/avigen/avigen.py ${AVI_DIR}/filecopy.avi
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/avigen/avigen.py
  COMMENT "Drawing the copy animation")
add_custom_target(filecopy_avi DEPENDS ${AVI_DIR}/filecopy.avi)
set_property(SOURCE ${UPDATER_RC} APPEND PROPERTY OBJECT_DEPENDS ${AVI_DIR}/filecopy.avi)
set_property(SOURCE ${UPDATER_RC} APPEND PROPERTY INCLUDE_DIRECTORIES ${AVI_DIR})
add_dependencies(updater_res filecopy_avi)
# The version that res/version.rc writes into the program, from VERSION (1.2.3 -> 1,2,3,0).
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)
string(REGEX MATCHALL "[0-9]+" KOVELA_VERSION_PARTS "${KOVELA_VERSION}.0.0.0")
list(SUBLIST KOVELA_VERSION_PARTS 0 4 KOVELA_VERSION_PARTS)
string(REPLACE ";" "," KOVELA_VERSION_NUMBERS "${KOVELA_VERSION_PARTS}")
file(CONFIGURE OUTPUT ${AVI_DIR}/kovela_version.h CONTENT
     "#define KOVELA_VERSION_TEXT \"@KOVELA_VERSION@\"\n#define KOVELA_VERSION_NUMBERS @KOVELA_VERSION_NUMBERS@\n")
set_property(SOURCE ${UPDATER_RC} APPEND PROPERTY OBJECT_DEPENDS ${AVI_DIR}/kovela_version.h)

add_executable(updater WIN32 $<TARGET_OBJECTS:updater_res>)
target_link_libraries(updater PRIVATE -Wl,--whole-archive kovela_win -Wl,--no-whole-archive
                      -static z ${WIN_LIBS})
# UpdaterEntry (src/shell/main_win32.cpp) restricts the DLL search, then starts the runtime. The
# 32-bit C symbol carries a leading underscore, the 64-bit one does not.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KOVELA_ENTRY _UpdaterEntry)
else()
  set(KOVELA_ENTRY UpdaterEntry)
endif()
target_link_options(updater PRIVATE -static -static-libgcc -static-libstdc++ -mwindows -Wl,-e,${KOVELA_ENTRY})

include(${CMAKE_CURRENT_LIST_DIR}/mkupdater_win32.cmake)
