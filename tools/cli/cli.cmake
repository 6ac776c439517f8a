# tool_cli: the command-line conventions of blockhost, boardsim and avrboard,
# on CLI11 from Debian's header-only libcli11-dev.  Each tool includes this
# file; the first one defines the library.  number_text.h, the one reader
# of the numbers a user types, is header-only and comes with it.
if(NOT TARGET tool_cli)
  # The cross compiler must not search the build machine's /usr/include, so
  # CLI11's own folder is named, and nothing beside it.
  find_path(CLI11_INCLUDE_DIR CLI.hpp PATHS /usr/include/CLI NO_DEFAULT_PATH
            NO_CMAKE_FIND_ROOT_PATH)
  if(NOT CLI11_INCLUDE_DIR)
    message(FATAL_ERROR "CLI11 not found (apt-get install libcli11-dev)")
  endif()
  add_library(tool_cli STATIC ${CMAKE_CURRENT_LIST_DIR}/tool_command_line.cpp)
  target_include_directories(tool_cli PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_include_directories(tool_cli SYSTEM PUBLIC ${CLI11_INCLUDE_DIR})
endif()
