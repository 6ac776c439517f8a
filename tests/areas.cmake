# check_test_areas(folder list_file areas... NOT_AREAS folder...)
#   Stops the configure when a test area named in `areas` has no
#   CMakeLists.txt under `folder`, or when `folder` holds a folder that is
#   neither a listed area nor one of NOT_AREAS (folders of shared sources).
#   The areas are listed rather than found, so that an area renamed or
#   removed stops the configure instead of quietly taking its tests with it.
#   `list_file` is the file that holds the list, named in the error.
function(check_test_areas folder list_file)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "" "NOT_AREAS")
  set(areas ${ARG_UNPARSED_ARGUMENTS})
  foreach(area IN LISTS areas)
    if(NOT EXISTS ${folder}/${area}/CMakeLists.txt)
      message(FATAL_ERROR "tests/${area}/CMakeLists.txt is missing: a test area listed in ${list_file} would register no tests")
    endif()
  endforeach()
  file(GLOB entries LIST_DIRECTORIES true ${folder}/*)
  foreach(entry IN LISTS entries)
    get_filename_component(name ${entry} NAME)
    if(IS_DIRECTORY ${entry} AND NOT name IN_LIST areas AND NOT name IN_LIST ARG_NOT_AREAS)
      message(FATAL_ERROR "tests/${name} is not a listed test area: add it to the areas in ${list_file}")
    endif()
  endforeach()
endfunction()
