# Windows test programs run under Wine, which not every machine can start
# (see wine-probe.sh).  Building therefore never runs them: their GoogleTest
# cases are listed when CTest starts, and only on a machine that can run
# Wine.  Elsewhere each program stands in CTest as one test that reports the
# reason and counts as skipped, never as passed.

include(GoogleTest)

set(WINE_PROBE ${CMAKE_CURRENT_LIST_DIR}/wine-probe.sh)
# Which Wine runs this build's programs: 32-bit Wine the product, 64-bit
# Wine the test build of the same sources (see toolchain-x86_64-w64-mingw32).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(WINE_BUILD win64)
else()
  set(WINE_BUILD win32)
endif()
# What a stand-in test exits with, and what the Windows tests that CTest
# starts through a script (wine-run.sh) exit with, when Wine cannot run.
set(WINE_SKIP_RETURN_CODE 77)

# wine_discover_tests(target [gtest_discover_tests options...])
# Registers the GoogleTest cases of a Windows test program behind the probe.
function(wine_discover_tests target)
  get_property(before DIRECTORY PROPERTY TEST_INCLUDE_FILES)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST ${ARGN})
  get_property(after DIRECTORY PROPERTY TEST_INCLUDE_FILES)
  set(discovery ${after})
  if(before)
    list(REMOVE_ITEM discovery ${before})
  endif()
  set_property(DIRECTORY PROPERTY TEST_INCLUDE_FILES ${before})

  set(gate ${CMAKE_CURRENT_BINARY_DIR}/${target}_wine_gate.cmake)
  file(WRITE ${gate}
"# Written by wine_discover_tests(): lists ${target}'s cases under Wine, or
# stands in for them with one skipped test when Wine cannot run here.
execute_process(COMMAND \"${WINE_PROBE}\" --need-wine ${WINE_BUILD}
                OUTPUT_VARIABLE why OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE cannot)
if(cannot)
  add_test(\"${target}\" /bin/sh -c \"echo \\\"Windows tests skipped: \$1\\\"; exit ${WINE_SKIP_RETURN_CODE}\" sh \"\${why}\")
  set_tests_properties(\"${target}\" PROPERTIES SKIP_RETURN_CODE ${WINE_SKIP_RETURN_CODE} LABELS wine)
else()
  include(\"${discovery}\")
endif()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${gate})
endfunction()
