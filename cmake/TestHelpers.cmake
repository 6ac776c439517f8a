# One helper per kind of test, so that each test program is one line in its
# area's CMakeLists.txt and the properties that matter (the port-1600 lock,
# Wine, time limits) are words on that line instead of repeated calls.
#
#   arduino_test_program(name source... [CORE] [BESIDE_DLL] [AVRBOARD] [FIRMWARE]
#                        [LIBS lib...] [INCLUDES dir...] [DEFINES def...]
#                        [DEPENDS target...] [EMULATOR command...])
#     Builds a test program with GoogleTest, the harness (harness/) and
#     the test helpers (tests/ and tests/platform/<platform> on the include
#     path) without registering it.
#     CORE links the library's core (on Windows with the rethrow boundary that
#     lets errors reach the tests as C++ exceptions).  BESIDE_DLL puts the
#     program beside ArduinoBlock.dll, where LoadLibrary finds the DLL.
#     DEPENDS names programs the tests start, so they are built first.
#     AVRBOARD defines AVRBOARD_PATH, the avrboard program the tests start,
#     and builds it first; where this build has no avrboard it is "", and
#     the cases that need it skip.  ARDUINO_BLOCK_AVRBOARD names another
#     build's avrboard instead: the sanitizer build takes the plain one,
#     whose chip keeps pace with the wall clock where a sanitized one barely
#     does (the sanitizers are there for the library, not for avrboard).  FIRMWARE defines FIRMWARE_DIR, the
#     folder of the firmware images, and brings the images up to date first
#     where this machine can build them (firmware/CMakeLists.txt).
#     EMULATOR is a wrapper that every run of the program, the listing of
#     its cases included, goes through.
#
#   arduino_gtest(name source... [program keywords...] TIER tier [HIL_CASES filter]
#                 [PORT1600] [WINE] [TIMEOUT seconds] [LABELS label...]
#                 [ENVIRONMENT var=value])
#     The same program, its GoogleTest cases registered one by one with CTest.
#     HIL_CASES puts the cases that match a GoogleTest filter in the tier hil.
#     In the Windows build the cases run under Wine (see WineTests.cmake) and
#     are in the tier wine; WINE marks a Linux program that starts Wine itself.
#
#   arduino_unit_test(name [WINE] [PORT1600] [TIER tier])
#     A unit test of the library's core, tests/unit/<name>.cpp, in the tier
#     fast unless told otherwise (in the i386 build always i386).  WINE builds
#     it in the Windows build too, to run under Wine there.
#
#   arduino_command_test(NAME name COMMAND command... TIER tier [PORT1600] [WINE]
#                        [HEAVY] [TIMEOUT seconds] [LABELS label...]
#                        [ENVIRONMENT var=value...] [SKIP_RETURN_CODE code])
#     Any other command as one CTest test: a script, a program run under a
#     wrapper, or one filter of a GoogleTest program.  HEAVY marks one that
#     keeps a core busy for long (valgrind), which a hil test must not meet.
#
#   arduino_skipped_test(NAME name WHY reason)
#     A test that cannot run in this build, standing in CTest as one skipped
#     test that prints the reason, so that it is counted and named, never
#     passed.
#
# Every test is in exactly one tier, a CTest label, so that each tier runs
# alone (ctest -L '^fast$'; ./run check runs that one):
#   fast    deterministic: fakes and injected clocks, no wait on the wall
#           clock beyond a few milliseconds, no simulated board, no Wine
#   wire    real sockets and pseudo-terminals with the library's real waits
#   hil     avrboard in real time; such a test has a core of its own and
#           never runs beside Wine or a test marked HEAVY (CTest resources),
#           since its board must keep up with the wall clock
#   wine    under Wine (WINE, and every test of the Windows builds)
#   static  checks of the Windows files that need no Wine
#   i386    the i386 build's unit tests (ARDUINO_BLOCK_PORTABLE_ONLY), each
#           program one test, run through cmake/i386-run.sh: natively or
#           under qemu-i386-static, and skipped with the reason where
#           neither can run it
#
# PORT1600: a block binds UDP port 1600, which only one socket of a network
# namespace can hold.  So on Linux such a test runs in a network namespace
# of its own (own-network.sh), and tests that create blocks run side by side.
# Wine's sockets belong to the one Wine server, in the namespace that started
# it, so the tests under Wine take port 1600 in turn instead (a CTest lock).

include(GoogleTest)
include(${CMAKE_CURRENT_LIST_DIR}/WineTests.cmake)

set(_arduino_program_options CORE BESIDE_DLL AVRBOARD FIRMWARE)
set(_arduino_program_lists LIBS INCLUDES DEFINES DEPENDS EMULATOR)
set(_arduino_run_options PORT1600 WINE HEAVY)
set(_arduino_run_values TIER TIMEOUT SKIP_RETURN_CODE)
set(_arduino_tiers fast wire hil wine static i386)
set(ARDUINO_OWN_NETWORK ${CMAKE_CURRENT_LIST_DIR}/own-network.sh)
set(ARDUINO_BLOCK_AVRBOARD "" CACHE FILEPATH
    "An avrboard program for the tests to start instead of this build's")
set(_arduino_run_lists LABELS ENVIRONMENT)

function(arduino_test_program name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "${_arduino_program_options}" ""
                        "${_arduino_program_lists}")
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  # The i386 build has no harness, only the host's model of its records.
  if(TARGET block_harness)
    target_link_libraries(${name} PRIVATE block_harness)
  elseif(TARGET host_model)
    target_link_libraries(${name} PRIVATE host_model)
  endif()
  target_include_directories(${name} PRIVATE ${ARG_INCLUDES} ${PROJECT_SOURCE_DIR}/tests
                             ${PROJECT_SOURCE_DIR}/tests/platform/${ARDUINO_BLOCK_PLATFORM})
  if(WIN32)
    # The interface table of test_platform.h's NetworkBeyondLoopback.
    target_link_libraries(${name} PRIVATE iphlpapi)
  endif()
  if(ARG_DEFINES)
    target_compile_definitions(${name} PRIVATE ${ARG_DEFINES})
  endif()
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  if(ARG_AVRBOARD)
    if(ARDUINO_BLOCK_AVRBOARD)
      target_compile_definitions(${name} PRIVATE AVRBOARD_PATH="${ARDUINO_BLOCK_AVRBOARD}")
    elseif(TARGET avrboard)
      target_compile_definitions(${name} PRIVATE AVRBOARD_PATH="$<TARGET_FILE:avrboard>")
      add_dependencies(${name} avrboard)
    else()
      target_compile_definitions(${name} PRIVATE AVRBOARD_PATH="")
    endif()
  endif()
  if(ARG_FIRMWARE)
    target_compile_definitions(${name} PRIVATE FIRMWARE_DIR="${ARDUINO_BLOCK_FIRMWARE_DIR}")
    if(TARGET firmware_images)
      add_dependencies(${name} firmware_images)
    endif()
  endif()
  if(ARG_CORE)
    target_link_libraries(${name} PRIVATE arduino_core)
    if(WIN32)
      target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/platform/win32/rethrow_boundary.cpp)
    endif()
  endif()
  if(ARG_EMULATOR)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${ARG_EMULATOR}")
  endif()
  if(ARG_BESIDE_DLL)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  endif()
endfunction()

# Turns the run keywords of the caller's ARG_* into a list of CTest
# properties in `out`; `wine` puts the tests in the tier wine.  `name` is
# what an error names.
function(_arduino_test_properties out name wine)
  set(properties)
  if(ARG_TIMEOUT)
    list(APPEND properties TIMEOUT ${ARG_TIMEOUT})
  endif()
  if(ARG_SKIP_RETURN_CODE)
    list(APPEND properties SKIP_RETURN_CODE ${ARG_SKIP_RETURN_CODE})
  endif()
  foreach(label IN LISTS ARG_LABELS)
    if(label IN_LIST _arduino_tiers)
      message(FATAL_ERROR "${name}: ${label} is a tier: give it as TIER ${label}, not as a label")
    endif()
  endforeach()
  if(wine)
    set(tier wine)
  elseif(NOT ARG_TIER)
    message(FATAL_ERROR "${name}: give the test its tier, TIER with one of ${_arduino_tiers}")
  elseif(NOT ARG_TIER IN_LIST _arduino_tiers)
    message(FATAL_ERROR "${name}: TIER ${ARG_TIER} is none of ${_arduino_tiers}")
  else()
    set(tier ${ARG_TIER})
  endif()
  # A board in real time needs a core of its own, and must never share the
  # machine with Wine, which keeps both cores busy while it starts, nor with
  # a test marked HEAVY.  So each hil test takes one of the machine's two
  # slots (tests/resources.json, which the test presets give ctest), and
  # each Wine or heavy test both: two boards may run at once, or a Wine test
  # beside the light tests, never a board beside Wine.  On Linux the Wine
  # tests thus take port 1600 in turn as well.  (The Windows builds hold no
  # board.)
  # Their COST starts them first, the Wine and heavy ones before the boards,
  # so that the light tests fill the other slot beside them instead of
  # leaving them a tail of their own (ctest starts the costliest first where
  # it has not timed the tests yet).
  if(tier STREQUAL "hil")
    list(APPEND properties RESOURCE_GROUPS machine:1 COST 500)
  elseif((tier STREQUAL "wine" AND NOT WIN32) OR ARG_HEAVY)
    list(APPEND properties RESOURCE_GROUPS machine:2 COST 1000)
  elseif(ARG_PORT1600 AND WIN32)
    list(APPEND properties RESOURCE_LOCK port1600)
  endif()
  set(labels ${tier} ${ARG_LABELS})
  list(REMOVE_DUPLICATES labels)
  list(APPEND properties LABELS ${labels})
  set(${out} ${properties} PARENT_SCOPE)
endfunction()

# Whether the caller's test gets a network namespace of its own: it binds
# port 1600 and runs natively.
macro(_arduino_own_network out)
  if(ARG_PORT1600 AND NOT ARG_WINE AND NOT WIN32 AND NOT ARDUINO_BLOCK_PORTABLE_ONLY)
    set(${out} TRUE)
  else()
    set(${out} FALSE)
  endif()
endmacro()

function(arduino_gtest name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG
                        "${_arduino_program_options};${_arduino_run_options}"
                        "${_arduino_run_values};HIL_CASES"
                        "${_arduino_program_lists};${_arduino_run_lists}")
  set(program_args ${ARG_UNPARSED_ARGUMENTS})
  _arduino_own_network(own_network)
  if(own_network)
    set(ARG_EMULATOR ${ARDUINO_OWN_NETWORK} ${ARG_EMULATOR})
  endif()
  foreach(option IN LISTS _arduino_program_options)
    if(ARG_${option})
      list(APPEND program_args ${option})
    endif()
  endforeach()
  foreach(keyword IN LISTS _arduino_program_lists)
    if(ARG_${keyword})
      list(APPEND program_args ${keyword} ${ARG_${keyword}})
    endif()
  endforeach()
  arduino_test_program(${name} ${program_args})

  # In the Windows build every GoogleTest program runs under Wine.
  if(ARG_WINE OR WIN32)
    set(wine TRUE)
  else()
    set(wine FALSE)
  endif()
  _arduino_test_properties(properties ${name} ${wine})
  # GoogleTest passes the properties on as one flat list, so a second
  # variable would be taken for a property name.
  list(LENGTH ARG_ENVIRONMENT environment_count)
  if(environment_count GREATER 1)
    message(FATAL_ERROR "arduino_gtest(${name}): give ENVIRONMENT one variable")
  elseif(environment_count EQUAL 1)
    set(environment ENVIRONMENT ${ARG_ENVIRONMENT})
  endif()
  if(ARDUINO_BLOCK_PORTABLE_ONLY)
    # One test per program: its cases are not listed at build time, which
    # would need a way to run i386 programs there.  i386-run.sh, the
    # emulator of every program of this build, learns from the probe how
    # they run here.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ${properties} SKIP_RETURN_CODE 77)
    set_property(TEST ${name} PROPERTY ENVIRONMENT ARDUINO_BLOCK_I386_PROBE=$<TARGET_FILE:i386_probe>
                                                   ${ARG_ENVIRONMENT})
  elseif(WIN32)
    wine_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60
                        PROPERTIES ${properties} ${environment})
  elseif(ARG_HIL_CASES)
    # The cases that run the firmware in avrboard are in the tier hil, the
    # rest in the program's own.
    set(ARG_TIER hil)
    _arduino_test_properties(hil_properties ${name} ${wine})
    gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60 TEST_FILTER -${ARG_HIL_CASES}
                         PROPERTIES ${properties} ${environment})
    gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60 TEST_FILTER ${ARG_HIL_CASES}
                         PROPERTIES ${hil_properties} ${environment})
  else()
    gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60
                         PROPERTIES ${properties} ${environment})
  endif()
endfunction()

function(arduino_unit_test name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "WINE;PORT1600" "TIER" "")
  if(WIN32 AND NOT ARG_WINE)
    return()
  endif()
  if(ARDUINO_BLOCK_PORTABLE_ONLY)
    set(ARG_TIER i386)
  elseif(NOT ARG_TIER)
    set(ARG_TIER fast)
  endif()
  set(port)
  if(ARG_PORT1600)
    set(port PORT1600)
  endif()
  arduino_gtest(${name} ${PROJECT_SOURCE_DIR}/tests/unit/${name}.cpp CORE ${port} TIER ${ARG_TIER}
                TIMEOUT 300)
endfunction()

function(arduino_command_test)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "${_arduino_run_options}"
                        "NAME;${_arduino_run_values}" "COMMAND;${_arduino_run_lists}")
  if(NOT ARG_NAME OR NOT ARG_COMMAND)
    message(FATAL_ERROR "arduino_command_test needs a NAME and a COMMAND")
  endif()
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "arduino_command_test(${ARG_NAME}): unknown ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  # Quoted, and changed as text: a word of the command may hold a
  # semicolon (a shell script's), which list commands would split.
  set(command "${ARG_COMMAND}")
  _arduino_own_network(own_network)
  if(own_network)
    # A program named by its target is found by add_test only as the
    # command's first word.
    string(REGEX MATCH "^[^;]*" program "${command}")
    if(TARGET ${program})
      string(LENGTH "${program}" length)
      string(SUBSTRING "${command}" ${length} -1 rest)
      set(command "$<TARGET_FILE:${program}>${rest}")
    endif()
    set(command "${ARDUINO_OWN_NETWORK};${command}")
  endif()
  add_test(NAME ${ARG_NAME} COMMAND ${command})
  _arduino_test_properties(properties ${ARG_NAME} "${ARG_WINE}")
  if(properties)
    set_tests_properties(${ARG_NAME} PROPERTIES ${properties})
  endif()
  if(ARG_ENVIRONMENT)
    set_property(TEST ${ARG_NAME} PROPERTY ENVIRONMENT ${ARG_ENVIRONMENT})
  endif()
endfunction()

function(arduino_skipped_test)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "NAME;WHY" "")
  if(NOT ARG_NAME OR NOT ARG_WHY)
    message(FATAL_ERROR "arduino_skipped_test needs a NAME and a WHY")
  endif()
  add_test(NAME ${ARG_NAME}
           COMMAND /bin/sh -c "echo \"skipped: $1\"; exit ${WINE_SKIP_RETURN_CODE}" sh "${ARG_WHY}")
  set_tests_properties(${ARG_NAME} PROPERTIES SKIP_RETURN_CODE ${WINE_SKIP_RETURN_CODE} LABELS wine)
endfunction()
