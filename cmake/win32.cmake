# Windows build (MinGW-w64 i686): the updater itself and the test programs run under Wine.

# The resource checks read the executable with pefile, which the distribution installs for its
# own Python: the first python3 on the search path that has it.
function(kovela_python_with_pefile result candidate)
  execute_process(COMMAND ${candidate} -c "import pefile" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()
find_program(KOVELA_PYTHON NAMES python3 VALIDATOR kovela_python_with_pefile REQUIRED NO_CMAKE_FIND_ROOT_PATH)
# Only DLLs that Windows always loads from the system folder (comctl32 comes through the
# manifest); tests/resources/check_imports.py holds the list. winmm is loaded at run time.
set(WIN_LIBS comctl32 ole32 shell32 gdi32 user32 advapi32 uuid)

add_library(kovela_win STATIC ${PORTABLE_SOURCES} ${WIN32_SOURCES})
target_include_directories(kovela_win PUBLIC ${SRC} ${CMAKE_SOURCE_DIR}/res)
target_compile_definitions(kovela_win PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)

enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
add_executable(updater WIN32 ${CMAKE_SOURCE_DIR}/res/updater.rc)
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

# GoogleTest for the Windows test programs, built from the distribution's sources.
find_path(GTEST_SOURCE_DIR CMakeLists.txt PATH_SUFFIXES src/googletest NO_CMAKE_FIND_ROOT_PATH
          DOC "GoogleTest's source folder")
if(NOT GTEST_SOURCE_DIR)
  message(FATAL_ERROR "GoogleTest's sources not found (Debian: googletest); set GTEST_SOURCE_DIR")
endif()
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Built once for every Windows test program: the container writer and the harness that drives
# the real updater (windows, texts, clicks, clipboard, registry, screenshots).
add_library(container_writer STATIC ${TOOL_DIR}/container_writer.cpp)
target_include_directories(container_writer PUBLIC ${TOOL_DIR})
add_library(e2e_harness STATIC ${CMAKE_SOURCE_DIR}/tests/e2e/harness.cpp)
target_include_directories(e2e_harness PUBLIC ${CMAKE_SOURCE_DIR}/tests/e2e ${SRC} ${CMAKE_SOURCE_DIR}/res)
target_compile_definitions(e2e_harness PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(e2e_harness PUBLIC container_writer -static z ${WIN_LIBS})

file(GLOB E2E_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*_test.cpp)
# The seam's conversion and hash are checked on the real system too (convert_test.cpp).
add_executable(e2e_tests ${E2E_SOURCES} ${SRC}/platform/files_win32.cpp ${SRC}/platform/hash_win32.cpp)
target_link_libraries(e2e_tests PRIVATE e2e_harness gtest gtest_main)
target_link_options(e2e_tests PRIVATE -static)
add_dependencies(e2e_tests updater)
# A winmm.dll that the tests plant beside an updater; it marks its folder when loaded.
add_library(planted_winmm SHARED ${CMAKE_SOURCE_DIR}/tests/e2e/plant/winmm.cpp)
set_target_properties(planted_winmm PROPERTIES PREFIX "" OUTPUT_NAME planted-winmm)
target_link_options(planted_winmm PRIVATE -static -static-libgcc -Wl,--kill-at)
add_dependencies(e2e_tests planted_winmm)

add_test(NAME e2e COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/run-under-wine.sh
         ${CMAKE_BINARY_DIR}/e2e_tests.exe ${CMAKE_BINARY_DIR}/updater.exe)
# What runs Windows programs under Wine carries the label "wine" (scripts/run-tests.sh).
set_tests_properties(e2e PROPERTIES LABELS wine)

# The resource scripts include one file per window; rebuild when any of them changes.
file(GLOB RES_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/*)
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/updater.rc PROPERTIES OBJECT_DEPENDS "${RES_FILES}")

# Checks of the built resources against their tables: every tests/resources/check_*.py is
# run with the executable's path.
file(GLOB RESOURCE_CHECKS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/resources/check_*.py)
foreach(check ${RESOURCE_CHECKS})
  get_filename_component(name ${check} NAME_WE)
  add_test(NAME ${name} COMMAND ${KOVELA_PYTHON} ${check} ${CMAKE_BINARY_DIR}/updater.exe)
endforeach()

# Copy-progress window: the animation clip is drawn at build time (tools/avigen) into
# generated/filecopy.avi, which res/progress.rc names; progress_probe.exe runs a real
# extraction with the real window for the end-to-end tests.
set(AVI_DIR ${CMAKE_BINARY_DIR}/generated)
add_custom_command(OUTPUT ${AVI_DIR}/filecopy.avi
  COMMAND ${CMAKE_COMMAND} -E make_directory ${AVI_DIR}
  COMMAND ${KOVELA_PYTHON} ${CMAKE_SOURCE_DIR}/tools/avigen/avigen.py ${AVI_DIR}/filecopy.avi
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/avigen/avigen.py
  COMMENT "Drawing the copy animation")
add_custom_target(filecopy_avi DEPENDS ${AVI_DIR}/filecopy.avi)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/updater.rc APPEND PROPERTY OBJECT_DEPENDS ${AVI_DIR}/filecopy.avi)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/updater.rc APPEND PROPERTY INCLUDE_DIRECTORIES ${AVI_DIR})
add_dependencies(updater filecopy_avi)
# The version that res/version.rc writes into the program, from VERSION (1.2.3 -> 1,2,3,0).
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)
string(REGEX MATCHALL "[0-9]+" KOVELA_VERSION_PARTS "${KOVELA_VERSION}.0.0.0")
list(SUBLIST KOVELA_VERSION_PARTS 0 4 KOVELA_VERSION_PARTS)
string(REPLACE ";" "," KOVELA_VERSION_NUMBERS "${KOVELA_VERSION_PARTS}")
file(CONFIGURE OUTPUT ${AVI_DIR}/kovela_version.h CONTENT
     "#define KOVELA_VERSION_TEXT \"@KOVELA_VERSION@\"\n#define KOVELA_VERSION_NUMBERS @KOVELA_VERSION_NUMBERS@\n")
set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/updater.rc APPEND PROPERTY OBJECT_DEPENDS ${AVI_DIR}/kovela_version.h)
add_executable(progress_probe WIN32 ${CMAKE_SOURCE_DIR}/tests/win32/progress_probe.cpp
               ${CMAKE_SOURCE_DIR}/res/updater.rc)
target_link_libraries(progress_probe PRIVATE kovela_win -static z ${WIN_LIBS})
target_link_options(progress_probe PRIVATE -static -static-libgcc -static-libstdc++ -mwindows)
add_dependencies(progress_probe filecopy_avi)
add_dependencies(e2e_tests progress_probe)

# The demo's Windows side: installs the old example game, clicks the update through, reports.
add_executable(demo_driver ${CMAKE_SOURCE_DIR}/tools/demo/demo_driver.cpp)
target_link_libraries(demo_driver PRIVATE e2e_harness)
target_link_options(demo_driver PRIVATE -static)

# Benchmarks under Wine (bench/run.py): the driver that times the updater, the zlib probe and
# an NSIS installer, and the Windows build of the zlib probe.
add_executable(wine_bench ${CMAKE_SOURCE_DIR}/bench/win32/wine_bench.cpp)
target_link_libraries(wine_bench PRIVATE e2e_harness psapi)
target_link_options(wine_bench PRIVATE -static)
add_executable(zlib_probe ${CMAKE_SOURCE_DIR}/bench/probe/zlib_probe.cpp)
target_link_libraries(zlib_probe PRIVATE kovela_win -static z ${WIN_LIBS})
target_link_options(zlib_probe PRIVATE -static -static-libgcc -static-libstdc++)

include(${CMAKE_CURRENT_LIST_DIR}/mkupdater_win32.cmake)
