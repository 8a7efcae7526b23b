# Runs the built orvel-publish (through EMULATOR, i.e. Wine, when set) as an
# operator does, from a working folder with relative paths: the manifest it
# prints must be the bytes it writes to a file, verify must find every file,
# and signatures made by stock OpenSSL must pass, as must OpenSSL's check of
# the signatures of a release. (PublishTest.cpp checks what
# the commands write, and that the tool's own signatures pass its verify.)
# Usage: cmake -DTOOL=... -DEMULATOR=... -DWORK=... -DDATA=tests/data -P program_test.cmake
cmake_minimum_required(VERSION 3.20)

function(expect_status want)
    execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN} WORKING_DIRECTORY "${WORK}"
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status STREQUAL want)
        message(FATAL_ERROR "orvel-publish ${ARGN}: exit status ${status}, expected ${want}\n${out}${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")
set(client "${WORK}/client")
file(MAKE_DIRECTORY "${client}/data/maps")
file(WRITE "${client}/main.exe" "abc")
file(WRITE "${client}/data/maps/world 1.map" "The quick brown fox jumps over the lazy dog")
file(WRITE "${client}/data/empty.bin" "")
string(REPEAT "0123456789abcdef" 20000 block)
file(WRITE "${client}/data/maps/big.pak" "${block}")
file(WRITE "${client}/launcher.ini" "[Launcher]\r\n")  # never listed

expect_status(0 manifest client -o manifest-file.txt)
# Standard output in text mode would turn each CR LF into CR CR LF.
execute_process(COMMAND ${EMULATOR} ${TOOL} manifest client -o - WORKING_DIRECTORY "${WORK}"
    RESULT_VARIABLE status OUTPUT_FILE "${WORK}/manifest-stdout.txt" ERROR_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files manifest-file.txt manifest-stdout.txt
    WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE different)
if(NOT status EQUAL 0 OR different)
    message(FATAL_ERROR "manifest -o -: exit status ${status}, or other bytes than manifest -o FILE wrote")
endif()
expect_status(0 verify client --manifest manifest-file.txt)
if(NOT out MATCHES "all 4 files match")
    message(FATAL_ERROR "verify: ${out}")
endif()

file(COPY "${DATA}/release-1.key" "${DATA}/release-1.pub" "${DATA}/foreign.pub" DESTINATION "${WORK}")
execute_process(COMMAND openssl dgst -sha256 -sign release-1.key -out manifest-file.txt.sig manifest-file.txt
    WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "openssl dgst -sign: ${err}")
endif()
expect_status(0 verify client --manifest manifest-file.txt --pub release-1.pub)
if(NOT out MATCHES "manifest-file.txt.sig: signed by release-1.pub")
    message(FATAL_ERROR "verify --pub: ${out}")
endif()
expect_status(1 verify client --manifest manifest-file.txt --pub foreign.pub)
if(EMULATOR)
    expect_status(1 keygen tool-key)  # signing is for the Linux tool
    expect_status(1 release client out --key release-1.key)
    if(EXISTS "${WORK}/out/manifest.txt")
        message(FATAL_ERROR "release --key wrote a manifest on Windows")
    endif()
else()
    # A signed release: stock OpenSSL checks the #signature line over every
    # byte before it, and manifest.txt.sig over the whole file.
    expect_status(0 release client out --key release-1.key)
    # CMake's strings lose carriage returns: the line is found in hex, the body cut by head.
    file(READ "${WORK}/out/manifest.txt" manifest HEX)
    string(FIND "${manifest}" "0a237369676e617475726520" at REVERSE)  # "\n#signature "
    math(EXPR at "${at} / 2 + 1")
    execute_process(COMMAND head -c ${at} out/manifest.txt OUTPUT_FILE body.txt WORKING_DIRECTORY "${WORK}")
    math(EXPR at "${at} + 11")
    file(READ "${WORK}/out/manifest.txt" signature OFFSET ${at})
    string(STRIP "${signature}" signature)
    file(WRITE "${WORK}/signature.b64" "${signature}")
    foreach(check "base64 -d -A -in signature.b64 -out signature.der"
            "dgst -sha256 -verify release-1.pub -signature signature.der body.txt"
            "dgst -sha256 -verify release-1.pub -signature out/manifest.txt.sig out/manifest.txt")
        separate_arguments(check)
        execute_process(COMMAND openssl ${check} WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status
            OUTPUT_VARIABLE out ERROR_VARIABLE err)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "openssl ${check}: ${out}${err}")
        endif()
    endforeach()
    expect_status(0 verify out --pub release-1.pub)
    if(NOT out MATCHES "manifest.txt #signature: signed by release-1.pub")
        message(FATAL_ERROR "verify --pub of a release: ${out}")
    endif()
    expect_status(1 verify out --pub foreign.pub)
    # An unsigned release signed apart from its files, as with a key kept offline.
    expect_status(0 release client unsigned)
    expect_status(0 sign unsigned --key release-1.key)
    expect_status(0 verify unsigned --pub release-1.pub)
    if(NOT out MATCHES "manifest.txt #signature: signed by release-1.pub")
        message(FATAL_ERROR "verify --pub of a release signed by sign: ${out}")
    endif()
endif()
file(REMOVE_RECURSE "${WORK}")
