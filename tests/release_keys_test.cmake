# Configures a small project that calls orvel_add_release_keys with good and
# bad keys: good ones end up as C strings in the generated source; a missing
# file, a third key or a file that is no P-256 public key stops the
# configuration with a message that names the problem.
# Usage: cmake -DSOURCE=<repository> -DWORK=<scratch folder> -P release_keys_test.cmake
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE "${WORK}")
file(WRITE "${WORK}/project/CMakeLists.txt" "cmake_minimum_required(VERSION 3.20)\nproject(Keys NONE)\n"
    "include(${SOURCE}/cmake/ReleaseKeys.cmake)\nadd_custom_target(probe)\norvel_add_release_keys(probe \${KEYS})\n")
set(data "${SOURCE}/tests/data")
file(READ "${data}/release-2.pub" pem)
string(REPLACE "\n" "\r\n" crlf "${pem}")
file(WRITE "${WORK}/crlf.pub" "${crlf}")
file(WRITE "${WORK}/compressed.pub" "-----BEGIN PUBLIC KEY-----\n"
    "MDkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDIgAD0kDDZ9Krs7nVDTumhwh1O3SA3DrUiCr+aJVpwVjD98w=\n-----END PUBLIC KEY-----\n")

function(expect_configure keys wanted)
    execute_process(COMMAND ${CMAKE_COMMAND} -S "${WORK}/project" -B "${WORK}/build" "-DKEYS=${keys}"
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    string(REGEX REPLACE "[ \n]+" " " flat "${out}")  # CMake wraps long messages
    if(NOT flat MATCHES "${wanted}" OR (wanted STREQUAL "Generating done" AND NOT status EQUAL 0))
        message(FATAL_ERROR "keys \"${keys}\": exit status ${status}, expected \"${wanted}\":\n${out}")
    endif()
endfunction()

expect_configure("${data}/release-1.pub;${WORK}/crlf.pub" "Generating done")
file(READ "${WORK}/build/probe_release_keys.cpp" generated)
string(REPLACE "\n" "\\n" release2 "${pem}")
string(FIND "${generated}" "\",\n    \"${release2}\",\n};" at)
if(NOT generated MATCHES "gReleaseKeyCount = 2;" OR at LESS 0)
    message(FATAL_ERROR "generated keys:\n${generated}")
endif()
expect_configure("${WORK}/missing.pub" "no such file: ${WORK}/missing.pub")
expect_configure("${data}/release-1.pub;${data}/release-2.pub;${data}/foreign.pub" "at most two")
foreach(bad "${data}/release-1.key" "${WORK}/compressed.pub")
    expect_configure("${bad}" "${bad} is not an ECDSA P-256 public key")
endforeach()
file(REMOVE_RECURSE "${WORK}")
