# libdeflate 1.14 for mkupdater.exe, from Debian's source of the version the Linux tool links
# (fetched by scripts/install-deps.sh into build/deps/src): only what compression needs.
set(KOVELA_LIBDEFLATE_SOURCE ${CMAKE_SOURCE_DIR}/build/deps/src/libdeflate-1.14 CACHE PATH "libdeflate 1.14 sources")
if(NOT EXISTS ${KOVELA_LIBDEFLATE_SOURCE}/lib/deflate_compress.c)
  message(FATAL_ERROR "libdeflate's sources are missing in ${KOVELA_LIBDEFLATE_SOURCE}: run scripts/install-deps.sh")
endif()
add_library(deflate_mingw STATIC
  ${KOVELA_LIBDEFLATE_SOURCE}/lib/deflate_compress.c ${KOVELA_LIBDEFLATE_SOURCE}/lib/zlib_compress.c
  ${KOVELA_LIBDEFLATE_SOURCE}/lib/adler32.c ${KOVELA_LIBDEFLATE_SOURCE}/lib/utils.c
  ${KOVELA_LIBDEFLATE_SOURCE}/lib/x86/cpu_features.c)
target_include_directories(deflate_mingw PUBLIC ${KOVELA_LIBDEFLATE_SOURCE})
target_compile_options(deflate_mingw PRIVATE -O2 -w)
target_compile_definitions(deflate_mingw PUBLIC LIBDEFLATE_STATIC)
