# Native Linux build: the portable libraries over the POSIX platform, mkupdater, and either
# the benchmarks (native preset) or the unit tests (sanitized preset).
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)  # Debian: libssl-dev (SHA-256)
find_library(LIBDEFLATE deflate REQUIRED)  # Debian: libdeflate-dev
find_path(LIBDEFLATE_INCLUDE libdeflate.h REQUIRED)

if(KOVELA_SANITIZE)
  set(SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_compile_options(${SANITIZE})
  add_link_options(${SANITIZE})
endif()

add_library(kovela_core STATIC ${PORTABLE_SOURCES})
target_include_directories(kovela_core PUBLIC ${SRC})
target_link_libraries(kovela_core PUBLIC ZLIB::ZLIB)

add_library(kovela_posix STATIC ${POSIX_SOURCES})
target_include_directories(kovela_posix PUBLIC ${SRC})
target_link_libraries(kovela_posix PUBLIC OpenSSL::Crypto)

add_library(container_writer STATIC ${TOOL_DIR}/container_writer.cpp)
target_include_directories(container_writer PUBLIC ${TOOL_DIR})
target_link_libraries(container_writer PUBLIC ZLIB::ZLIB)

# mkupdater links the real POSIX platform and no stand-in: a call into the Windows side would
# not link.
file(GLOB TOOL_SOURCES CONFIGURE_DEPENDS ${TOOL_DIR}/*.cpp)
list(FILTER TOOL_SOURCES EXCLUDE REGEX "(_win32|/main|/container_writer)\\.cpp$")
add_library(mkupdater_lib STATIC ${TOOL_SOURCES})
target_include_directories(mkupdater_lib PUBLIC ${TOOL_DIR})
target_include_directories(mkupdater_lib PRIVATE ${LIBDEFLATE_INCLUDE})
target_link_libraries(mkupdater_lib PUBLIC container_writer kovela_core kovela_posix PNG::PNG ${LIBDEFLATE}
                      Threads::Threads)

include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)
target_compile_definitions(mkupdater_lib PRIVATE KOVELA_VERSION="${KOVELA_VERSION}")

add_executable(mkupdater ${TOOL_DIR}/main.cpp)
target_link_libraries(mkupdater PRIVATE mkupdater_lib)

if(KOVELA_SANITIZE)
  find_package(GTest REQUIRED)
  # The stand-ins and the product code call each other: one object library, linked whole.
  add_library(kovela_doubles OBJECT ${DOUBLE_SOURCES})
  target_link_libraries(kovela_doubles PUBLIC kovela_core)
  file(GLOB UNIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
  add_executable(unit_tests ${UNIT_SOURCES})
  target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/doubles)
  target_link_libraries(unit_tests PRIVATE kovela_doubles mkupdater_lib GTest::gtest GTest::gtest_main
                                           Threads::Threads)
  target_compile_definitions(unit_tests PRIVATE KOVELA_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KOVELA_VERSION="${KOVELA_VERSION}")
  add_test(NAME unit COMMAND unit_tests --gtest_brief=1)
  # mkupdater's progress bar and summary on a terminal, and its silence elsewhere.
  add_test(NAME mkupdater_terminal COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/tool/terminal.py $<TARGET_FILE:mkupdater>)
  set_tests_properties(unit PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
else()
  file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
  foreach(b ${BENCH_SOURCES})
    get_filename_component(name ${b} NAME_WE)
    add_executable(bench_${name} ${b})
    target_link_libraries(bench_${name} PRIVATE mkupdater_lib)
  endforeach()
  # The plain zlib loop that bench/run.py holds the extraction against (not a bench_
  # program: it needs arguments).
  add_executable(zlib_probe ${CMAKE_SOURCE_DIR}/bench/probe/zlib_probe.cpp)
  target_link_libraries(zlib_probe PRIVATE kovela_core kovela_posix)
endif()
