# header_exports(<out-var> <header>): the functions the public header
# declares with ARDUINO_BLOCK_CALL, sorted; what both builds must export.
function(header_exports out header)
  file(READ ${header} text)
  string(REGEX MATCHALL "ARDUINO_BLOCK_CALL ([A-Za-z0-9]+)\\(" declarations "${text}")
  set(names)
  foreach(declaration ${declarations})
    string(REGEX REPLACE "ARDUINO_BLOCK_CALL ([A-Za-z0-9]+)\\(" "\\1" name "${declaration}")
    list(APPEND names ${name})
  endforeach()
  list(SORT names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()
