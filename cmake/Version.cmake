# The version every artifact carries, from cmake/version.sh (VERSION plus
# what git describe says between releases).  It is written into
# generated/arduino_block_version.h in the build tree; targets that show it
# link arduino_block_version.  A new commit or a new VERSION configures the
# build again, so the version never lags behind the tree it was built from.
execute_process(
  COMMAND ${PROJECT_SOURCE_DIR}/cmake/version.sh
  OUTPUT_VARIABLE ARDUINO_BLOCK_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE _version_status ERROR_VARIABLE _version_error)
if(NOT _version_status EQUAL 0)
  message(FATAL_ERROR "cannot tell the version: ${_version_error}")
endif()
execute_process(
  COMMAND ${PROJECT_SOURCE_DIR}/cmake/version.sh --numbers
  OUTPUT_VARIABLE _version_numbers OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(_version_numbers)
list(GET _version_numbers 0 ARDUINO_BLOCK_VERSION_MAJOR)
list(GET _version_numbers 1 ARDUINO_BLOCK_VERSION_MINOR)
list(GET _version_numbers 2 ARDUINO_BLOCK_VERSION_PATCH)
list(GET _version_numbers 3 ARDUINO_BLOCK_VERSION_BUILD)
message(STATUS "Arduino block version ${ARDUINO_BLOCK_VERSION}")

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/VERSION)
execute_process(
  COMMAND git -C ${PROJECT_SOURCE_DIR} rev-parse --absolute-git-dir
  OUTPUT_VARIABLE _git_dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
# HEAD's log grows with every commit, checkout and reset of this work tree.
if(_git_dir AND EXISTS ${_git_dir}/logs/HEAD)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_git_dir}/logs/HEAD)
endif()

configure_file(${PROJECT_SOURCE_DIR}/cmake/arduino_block_version.h.in
               ${PROJECT_BINARY_DIR}/generated/arduino_block_version.h @ONLY)
add_library(arduino_block_version INTERFACE)
target_include_directories(arduino_block_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
