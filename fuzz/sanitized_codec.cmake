# The codec of the fuzz build: libjpeg-turbo from the source that scripts/setup
# unpacks (the Windows codec's), built with the fuzzers' instrumentation so
# that coverage leads the fuzzer through the decoder and the sanitizers check
# the decoder's own writes into the program's blocks. Without SIMD, whose
# assembly would be neither instrumented nor checked.
include(ExternalProject)

set(TBM_FUZZ_LIBRARY_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)

set(TBM_CODEC_SOURCE "${CMAKE_SOURCE_DIR}/.deps/libjpeg-turbo-src")
if(NOT EXISTS "${TBM_CODEC_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "${TBM_CODEC_SOURCE} is missing: run scripts/setup")
endif()
set(TBM_CODEC_BUILD "${CMAKE_BINARY_DIR}/libjpeg-turbo")
# The imported target's include folders must exist when CMake generates.
file(MAKE_DIRECTORY "${TBM_CODEC_BUILD}")

# The compiler does not track the ignore list, so its digest goes into the
# flags: a changed list changes them, and the library is built again.
set(coverage_ignore "${CMAKE_SOURCE_DIR}/fuzz/codec-coverage-ignore.txt")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${coverage_ignore}")
file(SHA256 "${coverage_ignore}" coverage_ignore_digest)
string(SUBSTRING "${coverage_ignore_digest}" 0 16 coverage_ignore_digest)
set(codec_flags ${TBM_FUZZ_LIBRARY_FLAGS} -fsanitize-coverage-ignorelist=${coverage_ignore}
                -DTBM_COVERAGE_IGNORE_DIGEST=${coverage_ignore_digest})
list(JOIN codec_flags " " codec_flags)
ExternalProject_Add(sanitized_libjpeg
  SOURCE_DIR "${TBM_CODEC_SOURCE}"
  BINARY_DIR "${TBM_CODEC_BUILD}"
  CMAKE_ARGS -Wno-dev -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER} -DCMAKE_BUILD_TYPE=RelWithDebInfo
             "-DCMAKE_C_FLAGS=${codec_flags}" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON
             -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static
  BUILD_BYPRODUCTS "${TBM_CODEC_BUILD}/libjpeg.a"
  INSTALL_COMMAND "")

add_library(jpeg STATIC IMPORTED)
set_target_properties(jpeg PROPERTIES IMPORTED_LOCATION "${TBM_CODEC_BUILD}/libjpeg.a"
                                      INTERFACE_INCLUDE_DIRECTORIES
                                      "${TBM_CODEC_SOURCE};${TBM_CODEC_BUILD}")
add_dependencies(jpeg sanitized_libjpeg)
