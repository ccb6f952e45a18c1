# Read by CTest when it starts (tests/CMakeLists.txt names it, for each test program, among the
# folder's TEST_INCLUDE_FILES): asks the program for its tests (--gtest_list_tests) once it is built or
# rebuilt, and adds one CTest test per GoogleTest test suite, "<folder>/<suite>", running that suite's
# tests in one process.

# Writes the add_test lines of program's suites into list (when the program is newer than the list),
# then reads them.
function(brelvox_discover_suites program list folder labels workdir)
  if(NOT EXISTS "${program}")
    # Not built: a test that fails, naming the program.
    add_test("${folder}/NOT_BUILT" "${program}")
    set_tests_properties("${folder}/NOT_BUILT" PROPERTIES LABELS "${labels}")
    return()
  endif()
  if(NOT EXISTS "${list}" OR "${program}" IS_NEWER_THAN "${list}")
    execute_process(COMMAND "${program}" --gtest_list_tests
      WORKING_DIRECTORY "${workdir}" TIMEOUT 60
      OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${program} --gtest_list_tests failed (${status}):\n${output}${errors}")
    endif()
    # "Suite." lines name the suites (a parameterised one as "Prefix/Suite."); the indented lines
    # under them are its tests.
    string(REPLACE ";" "\\;" output "${output}")
    string(REPLACE "\n" ";" lines "${output}")
    set(content "")
    foreach(line IN LISTS lines)
      if(line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
        set(suite "${CMAKE_MATCH_1}")
        set(name "${folder}/${suite}")
        string(APPEND content
          "add_test([==[${name}]==] [==[${program}]==] [==[--gtest_filter=${suite}.*]==])\n"
          "set_tests_properties([==[${name}]==] PROPERTIES LABELS [==[${labels}]==] "
          "ENVIRONMENT TZ=UTC WORKING_DIRECTORY [==[${workdir}]==])\n")
      endif()
    endforeach()
    if(content STREQUAL "")
      message(FATAL_ERROR "${program} lists no tests:\n${output}")
    endif()
    file(WRITE "${list}" "${content}")
  endif()
  include("${list}")
endfunction()
