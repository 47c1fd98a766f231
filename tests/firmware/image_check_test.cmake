# Runs the firmware image check on small folders and expects its verdicts and messages.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/src")
file(WRITE "${WORK_DIR}/src/139.bin" "0123456789abcdef")  # 16 bytes
file(WRITE "${WORK_DIR}/src/136.bin" "0123456789")        # 10 bytes

set(failures 0)

# expect_check(NAME SHOULD_PASS EXPECTED_OUTPUT_REGEX ARGS...)
function(expect_check name should_pass pattern)
  execute_process(COMMAND ${CMAKE_COMMAND} ${ARGN} -P "${CHECK_SCRIPT}"
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(text "${out}${err}")
  set(ok TRUE)
  if(should_pass AND NOT result EQUAL 0)
    set(ok FALSE)
  elseif(NOT should_pass AND result EQUAL 0)
    set(ok FALSE)
  endif()
  if(NOT pattern STREQUAL "" AND NOT text MATCHES "${pattern}")
    set(ok FALSE)
  endif()
  if(ok)
    message(STATUS "ok: ${name}")
  else()
    message(STATUS "FAILED: ${name} (exit ${result}):\n${text}")
    math(EXPR count "${failures} + 1")
    set(failures ${count} PARENT_SCOPE)
  endif()
endfunction()

expect_check("right length passes and is copied" TRUE ""
  -DSOURCE_DIR=${WORK_DIR}/src -DIMAGES=139:16 -DDEST_DIR=${WORK_DIR}/dest
  -DSTAMP=${WORK_DIR}/stamp)
if(NOT EXISTS "${WORK_DIR}/dest/139.bin" OR NOT EXISTS "${WORK_DIR}/stamp")
  message(STATUS "FAILED: a passing check did not copy the image and touch the stamp")
  math(EXPR failures "${failures} + 1")
endif()

expect_check("wrong length fails with the lengths" FALSE
  "firmware image 136\\.bin: expected 6434816 bytes, found 10"
  -DSOURCE_DIR=${WORK_DIR}/src -DIMAGES=136:6434816 -DSTAMP=${WORK_DIR}/stamp-wrong)
if(EXISTS "${WORK_DIR}/stamp-wrong")
  message(STATUS "FAILED: a failing check touched its stamp")
  math(EXPR failures "${failures} + 1")
endif()

expect_check("missing image fails and names it" FALSE "firmware image 129\\.bin: missing"
  -DSOURCE_DIR=${WORK_DIR}/src -DIMAGES=139:16,129:528512)

expect_check("every wrong image is reported" FALSE
  "136\\.bin: expected 6434816 bytes, found 10.*129\\.bin: missing"
  -DSOURCE_DIR=${WORK_DIR}/src -DIMAGES=136:6434816,129:528512)

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} image check case(s) failed")
endif()
