# byte_text: how blockhost, boardsim and avrboard print bytes that may not be
# text (a reply at the wrong line speed, a command in a log).  Each tool
# includes this file; the first one defines the library.
if(NOT TARGET byte_text)
  add_library(byte_text STATIC ${CMAKE_CURRENT_LIST_DIR}/byte_escape.cpp)
  target_include_directories(byte_text PUBLIC ${CMAKE_CURRENT_LIST_DIR})
endif()
