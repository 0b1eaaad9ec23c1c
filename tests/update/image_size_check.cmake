# SPDX-License-Identifier: MIT
# Configures the project in a scratch directory with a firmware image that is
# not 512000 bytes, and with one that does not exist: both must be refused with
# a message that names the problem. Configure only; nothing is built.
#   cmake -DSOURCE_DIR=... -DSCRATCH_DIR=... -DGENERATOR=... -P image_size_check.cmake
file(REMOVE_RECURSE ${SCRATCH_DIR})
file(MAKE_DIRECTORY ${SCRATCH_DIR})
string(REPEAT "x" 1000 content)
file(WRITE ${SCRATCH_DIR}/short.bin "${content}")

function(expect_refused image pattern)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${SCRATCH_DIR}/build -G ${GENERATOR}
            -DBRIVELTON_TESTS=OFF -DBRIVELTON_QT=OFF
            -DBRIVELTON_FIRMWARE_IMAGE=${image}
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(result EQUAL 0)
    message(FATAL_ERROR "configure accepted ${image}")
  endif()
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${out}${err}")
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "configure refused ${image} without saying why:\n${out}${err}")
  endif()
  file(REMOVE_RECURSE ${SCRATCH_DIR}/build)
endfunction()

expect_refused(${SCRATCH_DIR}/short.bin "holds 1000 bytes; it must hold exactly 512000 bytes")
expect_refused(${SCRATCH_DIR}/missing.bin "Firmware image not found")
file(REMOVE_RECURSE ${SCRATCH_DIR})
