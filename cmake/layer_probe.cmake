# Compiles one include against one layer's include root and checks the outcome.
# -DCXX=compiler -DROOT=include root -DHEADER=header -DEXPECT=pass|fail
string(RANDOM LENGTH 8 tag)
set(probe "${ROOT}.probe-${tag}.cpp")
file(WRITE "${probe}" "#include \"${HEADER}\"\nint main() { return 0; }\n")
execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only -I${ROOT} ${probe}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE "${probe}")
if(EXPECT STREQUAL "pass" AND NOT rc EQUAL 0)
  message(FATAL_ERROR "${HEADER} does not compile against ${ROOT}:\n${err}")
elseif(EXPECT STREQUAL "fail")
  if(rc EQUAL 0)
    message(FATAL_ERROR "${HEADER} compiled against ${ROOT}, which must not see it")
  elseif(NOT err MATCHES "No such file")
    message(FATAL_ERROR "${HEADER} failed against ${ROOT} for another reason:\n${err}")
  endif()
endif()
