# Instrumentation for the libFuzzer targets (CORVANE_BUILD_FUZZERS): coverage feedback for
# libFuzzer in every target the fuzzers link, and AddressSanitizer + UndefinedBehaviorSanitizer,
# so that a bad read or write, a leak or undefined behaviour ends the run with the input that
# caused it. libFuzzer comes with clang (Debian: clang-14, libclang-rt-14-dev).
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "CORVANE_BUILD_FUZZERS needs clang: configure with the fuzz preset "
                      "or with CC=clang CXX=clang++")
endif()
add_compile_options(
  -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
  # rapidjson's own stack.h: see the file.
  -fsanitize-ignorelist=${PROJECT_SOURCE_DIR}/tests/sanitizers/ubsan-ignorelist.txt
  -fno-omit-frame-pointer -g -O1)
add_link_options(-fsanitize=address,undefined)
