# check_test_areas (areas.cmake) on made-up test trees under SCRATCH: each
# row is a tree, the areas listed for it, and the words the configure must
# stop with, or nothing when it must go on.  Each check runs in a cmake of
# its own, since a stopped configure ends the process.
#   cmake -DSCRATCH=folder -P areas_test.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT SCRATCH)
  message(FATAL_ERROR "areas_test.cmake: give -DSCRATCH=folder")
endif()
set(_helpers ${CMAKE_CURRENT_LIST_DIR}/areas.cmake)

# check(name "folders with a CMakeLists.txt" "folders without" "listed areas" expected)
function(check name with without listed expected)
  set(tree ${SCRATCH}/${name})
  file(REMOVE_RECURSE ${tree})
  foreach(folder IN LISTS with)
    file(WRITE ${tree}/${folder}/CMakeLists.txt "")
  endforeach()
  foreach(folder IN LISTS without)
    file(MAKE_DIRECTORY ${tree}/${folder})
  endforeach()
  # A plain file beside the areas is no area.
  file(WRITE ${tree}/helpers.sh "")
  string(REPLACE ";" " " listed "${listed}")
  file(WRITE ${tree}.cmake "cmake_minimum_required(VERSION 3.25)\ninclude(${_helpers})\ncheck_test_areas(${tree} list.txt ${listed} NOT_AREAS shared)\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -P ${tree}.cmake RESULT_VARIABLE status
                  ERROR_VARIABLE said OUTPUT_QUIET)
  string(REGEX REPLACE "[ \n]+" " " said "${said}")
  if(expected STREQUAL "")
    if(NOT status EQUAL 0)
      message(SEND_ERROR "${name}: the configure stopped: ${said}")
    endif()
  elseif(status EQUAL 0)
    message(SEND_ERROR "${name}: the configure went on; expected it to stop with \"${expected}\"")
  elseif(NOT said MATCHES "${expected}")
    message(SEND_ERROR "${name}: stopped with \"${said}\"; expected \"${expected}\"")
  endif()
endfunction()

check(every_area_listed "e2e;faults" "shared" "e2e;faults" "")
check(area_renamed "e2e;faults2" "" "e2e;faults"
      "tests/faults/CMakeLists.txt is missing: a test area listed in list.txt")
check(area_lost_its_list "e2e;soak" "faults" "e2e;faults;soak" "tests/faults/CMakeLists.txt is missing")
check(area_not_listed "e2e;faults;newarea" "" "e2e;faults"
      "tests/newarea is not a listed test area: add it to the areas in list.txt")
check(shared_folder_with_no_tests "e2e" "shared" "e2e" "")
check(unknown_folder_without_tests "e2e" "stray" "e2e" "tests/stray is not a listed test area")
