# Native Linux build: portable libraries with the host platform, mkupdater, unit tests,
# benchmarks.
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

set(SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)

# The same sources twice: plain for the tool and the benchmarks, sanitized for the tests.
add_library(kovela_host STATIC ${PORTABLE_SOURCES} ${HOST_SOURCES})
target_include_directories(kovela_host PUBLIC ${SRC})
target_link_libraries(kovela_host PUBLIC ZLIB::ZLIB)

add_library(kovela_host_san STATIC ${PORTABLE_SOURCES} ${HOST_SOURCES})
target_include_directories(kovela_host_san PUBLIC ${SRC})
target_compile_options(kovela_host_san PUBLIC ${SANITIZE})
target_link_options(kovela_host_san PUBLIC ${SANITIZE})
target_link_libraries(kovela_host_san PUBLIC ZLIB::ZLIB)

file(GLOB TOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/mkupdater/*.cpp)
list(FILTER TOOL_SOURCES EXCLUDE REGEX "_win32\\.cpp$")
set(TOOL_LIB_SOURCES ${TOOL_SOURCES})
list(FILTER TOOL_LIB_SOURCES EXCLUDE REGEX "/main\\.cpp$")

add_library(mkupdater_lib STATIC ${TOOL_LIB_SOURCES})
target_include_directories(mkupdater_lib PUBLIC ${CMAKE_SOURCE_DIR}/tools/mkupdater)
target_link_libraries(mkupdater_lib PUBLIC kovela_host PNG::PNG)

add_executable(mkupdater ${CMAKE_SOURCE_DIR}/tools/mkupdater/main.cpp)
target_link_libraries(mkupdater PRIVATE mkupdater_lib)

add_library(mkupdater_lib_san STATIC ${TOOL_LIB_SOURCES})
target_include_directories(mkupdater_lib_san PUBLIC ${CMAKE_SOURCE_DIR}/tools/mkupdater)
target_link_libraries(mkupdater_lib_san PUBLIC kovela_host_san PNG::PNG)

file(GLOB UNIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${UNIT_SOURCES})
target_link_libraries(unit_tests PRIVATE mkupdater_lib_san GTest::gtest GTest::gtest_main Threads::Threads)
target_compile_definitions(unit_tests PRIVATE KOVELA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_test(NAME unit COMMAND unit_tests --gtest_brief=1)
set_tests_properties(unit PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")

file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
foreach(b ${BENCH_SOURCES})
  get_filename_component(name ${b} NAME_WE)
  add_executable(bench_${name} ${b})
  target_link_libraries(bench_${name} PRIVATE mkupdater_lib)
endforeach()

# The plain zlib loop that bench/run.py holds the extraction against (not a bench_ program:
# it needs arguments).
add_executable(zlib_probe ${CMAKE_SOURCE_DIR}/bench/probe/zlib_probe.cpp)
target_link_libraries(zlib_probe PRIVATE kovela_host)
