# Reads a Windows program or DLL with the cross toolchain's objdump, so it
# runs on machines where Wine cannot:
#   cmake -DOBJDUMP=... -DFILE=... [-DBUILD=win32|win64] [-DHEADER=arduino_block.h]
#         [-DALLOWED=a.dll;b.dll] -P check_pe.cmake
# - the file is PE32 for i386 (what a 32-bit host loads), or with
#   BUILD=win64 PE32+ for x86-64 (the test build for 64-bit Wine);
# - it imports only DLLs that come with Windows: a runtime DLL of the
#   compiler (libgcc, libstdc++, libwinpthread) would not be found beside the
#   host, and the DLL would fail to load with no useful message;
# - with HEADER, it exports exactly the functions the public header declares,
#   undecorated (no "@8" of __stdcall).

cmake_policy(SET CMP0057 NEW)  # if(... IN_LIST ...)

# Every DLL here ships with Windows itself.
set(system_dlls advapi32 comctl32 comdlg32 gdi32 kernel32 msvcrt ntdll ole32 oleaut32
    setupapi shell32 user32 version ws2_32 wsock32)
if(DEFINED ALLOWED)
  set(system_dlls ${ALLOWED})
endif()

execute_process(COMMAND ${OBJDUMP} -f -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE result
                ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} cannot read ${FILE}: ${error}")
endif()

set(faults)
if(BUILD STREQUAL "win64")
  set(kind "PE32+ x86-64")
  if(NOT dump MATCHES "file format pei-x86-64" OR NOT dump MATCHES "Magic[ \t]+020b[ \t]+\\(PE32\\+\\)")
    list(APPEND faults "not a PE32+ file for x86-64")
  endif()
else()
  set(kind "PE32 i386")
  if(NOT dump MATCHES "file format pei-i386" OR NOT dump MATCHES "architecture: i386")
    list(APPEND faults "not an i386 PE file")
  endif()
  if(NOT dump MATCHES "Magic[ \t]+010b[ \t]+\\(PE32\\)")
    list(APPEND faults "not PE32 (a 64-bit PE32+ file cannot be loaded by a 32-bit host)")
  endif()
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
set(imports)
foreach(line ${import_lines})
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  string(REGEX REPLACE "\\.dll$" "" base "${dll}")
  list(APPEND imports ${dll})
  if(NOT base IN_LIST system_dlls)
    list(APPEND faults "imports ${dll}, which does not come with Windows")
  endif()
endforeach()

if(DEFINED HEADER)
  include(${CMAKE_CURRENT_LIST_DIR}/../abi/header_exports.cmake)
  header_exports(expected ${HEADER})
  # The name table follows "[Ordinal/Name Pointer] Table"; its rows are
  # "[   n] Name", unlike the address table's "[   n] +base[...]" rows.
  string(REGEX REPLACE ".*\\[Ordinal/Name Pointer\\] Table" "" names_part "${dump}")
  string(REGEX MATCHALL "\n[ \t]*\\[ *[0-9]+\\] [^ +\n][^\n]*" rows "${names_part}")
  set(exported)
  foreach(row ${rows})
    string(REGEX REPLACE "^\n[ \t]*\\[ *[0-9]+\\] " "" name "${row}")
    list(APPEND exported ${name})
  endforeach()
  list(SORT exported)
  if(NOT exported STREQUAL expected)
    list(JOIN exported " " exported)
    list(JOIN expected " " expected)
    list(APPEND faults "exports differ from the header\n  exported: ${exported}\n  expected: ${expected}")
  else()
    list(LENGTH exported count)
    message(STATUS "${count} undecorated exports, as declared")
  endif()
endif()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "${FILE}:\n  ${text}")
endif()
message(STATUS "${FILE}: ${kind}, imports only ${imports}")
