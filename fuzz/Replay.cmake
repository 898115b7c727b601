# cmake -DFUZZER=path -DDIR=folder -P Replay.cmake
# Runs the fuzzer once with every file of DIR as an argument: libFuzzer then
# executes each input once and stops at the first failure.
if(NOT IS_DIRECTORY "${DIR}")
  message("SKIPPED: ${DIR} is absent")
  return()
endif()
file(GLOB_RECURSE inputs LIST_DIRECTORIES false "${DIR}/*")
# Half-written corpus files, notes and the generator script are not inputs.
list(FILTER inputs EXCLUDE REGEX "(\\.tmp[0-9]+|/README\\.md|\\.py)$")
list(LENGTH inputs count)
if(count EQUAL 0)
  message("SKIPPED: no inputs in ${DIR}")
  return()
endif()
execute_process(COMMAND "${FUZZER}" -timeout=60 -rss_limit_mb=2048 ${inputs}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  # The last "Running:" line names the input that failed.
  string(LENGTH "${out}" len)
  if(len GREATER 12000)
    math(EXPR from "${len} - 12000")
    string(SUBSTRING "${out}" ${from} -1 out)
  endif()
  message(FATAL_ERROR "fuzzer failed (${rc}) replaying ${DIR}:\n${out}")
endif()
message("replayed ${count} inputs from ${DIR}")
