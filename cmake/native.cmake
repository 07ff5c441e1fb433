# The product on Linux: the portable libraries over the POSIX platform and mkupdater, which the
# benchmarks (native preset, bench/) and the unit tests (sanitized preset, tests/) link.
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
