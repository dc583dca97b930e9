# Every test has a time limit, so that a test that waits for something that
# never comes fails instead of hanging a run. A test that needs longer sets
# its own TIMEOUT; lumafex_limit_test_times() gives every other test of the
# calling folder the default. Each GoogleTest case is a test of its own, with
# LUMAFEX_GTEST_TIMEOUT as its limit (pass it to gtest_discover_tests).
set(LUMAFEX_TEST_TIMEOUT 300 CACHE STRING "Seconds a test may run unless it sets its own limit")
set(LUMAFEX_GTEST_TIMEOUT 120 CACHE STRING "Seconds one GoogleTest case may run")

function(lumafex_limit_test_times)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test IN LISTS tests)
    get_test_property(${test} TIMEOUT limit)
    if(NOT limit)
      set_tests_properties(${test} PROPERTIES TIMEOUT ${LUMAFEX_TEST_TIMEOUT})
    endif()
  endforeach()
endfunction()
