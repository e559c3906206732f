# libcurl for the Windows build: Debian's curl source package configured for MinGW-w64 with
# Schannel and zlib, built as a static library into ${PROJECT_BINARY_DIR}/curl by
# scripts/build-curl-windows.sh (which does nothing when that library is there already, made with
# the same flags). Defines corvane_curl_windows: libcurl, zlib and the system libraries they call.
set(corvane_curl_dir ${PROJECT_BINARY_DIR}/curl)
execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/build-curl-windows.sh ${corvane_curl_dir}
                RESULT_VARIABLE corvane_curl_result)
if(NOT corvane_curl_result EQUAL 0)
  message(FATAL_ERROR "libcurl for Windows could not be built (scripts/build-curl-windows.sh)")
endif()
file(STRINGS ${corvane_curl_dir}/version corvane_curl_version LIMIT_COUNT 1)
message(STATUS "libcurl ${corvane_curl_version} for Windows: ${corvane_curl_dir}/lib/libcurl.a")
find_library(CORVANE_MINGW_ZLIB NAMES libz.a REQUIRED)

add_library(corvane_curl_windows INTERFACE)
# CURL_STATICLIB: libcurl's declarations without dllimport.
target_compile_definitions(corvane_curl_windows INTERFACE CURL_STATICLIB)
target_include_directories(corvane_curl_windows SYSTEM INTERFACE ${corvane_curl_dir}/include)
# Schannel (secur32), the certificate store (crypt32), the random numbers (bcrypt, advapi32),
# sockets (ws2_32); winhttp only for the system's proxy settings (curl/CurlPlatform.cpp).
target_link_libraries(corvane_curl_windows INTERFACE ${corvane_curl_dir}/lib/libcurl.a
                      ${CORVANE_MINGW_ZLIB} ws2_32 crypt32 secur32 bcrypt advapi32 winhttp)
