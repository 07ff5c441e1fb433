# libFuzzer targets (clang, ASan + UBSan) over the portable readers, with the stand-ins of the
# Windows side. Each is registered with CTest as a short smoke run over a copy of its seeds.
set(FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer -g -O1)
set(KOVELA_FUZZ_SECONDS 15 CACHE STRING "Seconds of each fuzz target's smoke run")
find_package(ZLIB REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g -O1)

add_library(kovela_fuzz STATIC ${PORTABLE_SOURCES} ${POSIX_SOURCES} ${DOUBLE_SOURCES})
target_include_directories(kovela_fuzz PUBLIC ${SRC} ${CMAKE_SOURCE_DIR}/tests/doubles)
target_link_libraries(kovela_fuzz PUBLIC ZLIB::ZLIB OpenSSL::Crypto)

file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*.cpp)
foreach(f ${FUZZ_SOURCES})
  get_filename_component(name ${f} NAME_WE)
  add_executable(${name} ${f})
  target_link_options(${name} PRIVATE ${FUZZ_FLAGS})
  target_link_libraries(${name} PRIVATE -Wl,--whole-archive kovela_fuzz -Wl,--no-whole-archive ZLIB::ZLIB OpenSSL::Crypto)
  string(REPLACE "fuzz_" "" corpus ${name})
  add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/smoke.sh $<TARGET_FILE:${name}>
           ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${corpus} ${KOVELA_FUZZ_SECONDS})
endforeach()
