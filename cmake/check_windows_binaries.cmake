# Checks the Windows programs and libraries of a build without running them
# (the i686 release build cannot run on machines whose kernel refuses 32-bit
# programs), with the MinGW-w64 binutils:
#
#   cmake -DOBJDUMP=<triple-objdump> -DNM=<triple-nm> -DFILES=<list file>
#         -DENTRIES=<loader entries object> [-DTHIRD_PARTY=name,name...]
#         [-DSTAMP=<file>] -P check_windows_binaries.cmake
#
# FILES lists the binaries, one path a line (package-files.txt).  For each:
#  - every DLL it imports is a system DLL (the list below): anything else
#    would be missing next to kordo.exe on a player's machine;
# and for each .dll among them (the speech libraries the client loads):
#  - each export is looked up by the loader under that plain name, and each
#    name the loader looks up (ENTRIES, from loader_entries.cmake) is
#    exported by one of them, unless THIRD_PARTY lists it (entry points of
#    libraries that come with a screen reader);
#  - i686: each exported function pops, at every `ret` of its code, the
#    bytes of arguments the loader's stdcall type pushes (the N of the
#    loader's _name@N).  A function that pops a different amount unbalances
#    the caller's stack on the first call.
# All faults are reported together; then the script fails.  On success it
# touches STAMP.

cmake_policy(VERSION 3.20)

set(system_dlls
    advapi32.dll avrt.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll dwmapi.dll
    gdi32.dll imm32.dll iphlpapi.dll kernel32.dll msvcrt.dll mswsock.dll ntdll.dll
    ole32.dll oleaut32.dll rpcrt4.dll secur32.dll setupapi.dll shell32.dll shlwapi.dll
    user32.dll userenv.dll uxtheme.dll version.dll winmm.dll winspool.drv ws2_32.dll)

set(faults "")
macro(fault text)
  list(APPEND faults "${text}")
endmacro()

function(run_tool out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "check_windows_binaries: '${ARGN}' failed (${status}): ${err}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Lower-case hexadecimal without "0x" and leading zeros, as keys.
function(hex_key out value)
  string(TOLOWER "${value}" v)
  string(REGEX REPLACE "^0x" "" v "${v}")
  string(REGEX REPLACE "^0+([0-9a-f])" "\\1" v "${v}")
  set(${out} "${v}" PARENT_SCOPE)
endfunction()

file(STRINGS "${FILES}" binaries)
list(FILTER binaries EXCLUDE REGEX "^[ \t]*$")
if(NOT binaries)
  message(FATAL_ERROR "check_windows_binaries: no binary listed in ${FILES}")
endif()
string(REPLACE "," ";" third_party "${THIRD_PARTY}")

# The loader's entry points: name -> argument bytes of a stdcall type, or ""
# (x86_64, where there is one calling convention, or a type without
# stdcall).  i386 C symbols carry a leading underscore.
run_tool(format "${OBJDUMP}" -f "${ENTRIES}")
set(prefix "")
if(format MATCHES "file format pe-i386")
  set(prefix "_")
endif()
run_tool(symbols "${NM}" -u "${ENTRIES}")
string(REGEX MATCHALL "U [^\n]+" undefined "${symbols}")
set(loader_names "")
foreach(u IN LISTS undefined)
  string(REGEX REPLACE "^U " "" sym "${u}")
  if(sym MATCHES "^${prefix}([A-Za-z0-9_]+)@([0-9]+)$")
    set(name "${CMAKE_MATCH_1}")
    set(loader_bytes_${name} "${CMAKE_MATCH_2}")
  elseif(sym MATCHES "^${prefix}([A-Za-z0-9_]+)$")
    set(name "${CMAKE_MATCH_1}")
    set(loader_bytes_${name} "")
  else()
    fault("the loader's entry ${sym}: unexpected symbol form")
    continue()
  endif()
  list(APPEND loader_names "${name}")
endforeach()
if(NOT loader_names)
  message(FATAL_ERROR "check_windows_binaries: no loader entry point in ${ENTRIES}")
endif()

set(exported "")
set(checked_dlls 0)
foreach(binary IN LISTS binaries)
  get_filename_component(file "${binary}" NAME)
  run_tool(headers "${OBJDUMP}" -p "${binary}")
  set(i386 OFF)
  if(headers MATCHES "file format pei-i386")
    set(i386 ON)
  endif()

  string(REGEX MATCHALL "\tDLL Name: [^\n]+" imports "${headers}")
  foreach(line IN LISTS imports)
    string(REGEX REPLACE "^\tDLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" lower)
    if(NOT lower IN_LIST system_dlls)
      fault("${file} imports ${dll}, which is not a system DLL (link it statically)")
    endif()
  endforeach()

  if(NOT file MATCHES "\\.[dD][lL][lL]$")
    continue()
  endif()
  math(EXPR checked_dlls "${checked_dlls} + 1")

  # Exports: "[   k] +base[...] <rva> Export RVA" in the address table, and
  # "[   k] <name>" in the name table, k being the same ordinal index.
  if(NOT headers MATCHES "ImageBase[ \t]+([0-9a-fA-F]+)")
    message(FATAL_ERROR "check_windows_binaries: no ImageBase in ${binary}")
  endif()
  set(image_base "0x${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] \\+base\\[ *[0-9]+\\] [0-9a-fA-F]+ Export RVA" rvas "${headers}")
  foreach(line IN LISTS rvas)
    string(REGEX MATCH "^\\[ *([0-9]+)\\] \\+base\\[ *[0-9]+\\] ([0-9a-fA-F]+)" _ "${line}")
    set(rva_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endforeach()
  string(FIND "${headers}" "[Ordinal/Name Pointer] Table" at)
  set(names "")
  if(NOT at EQUAL -1)
    string(SUBSTRING "${headers}" ${at} -1 table)
    string(REGEX MATCH "Table[^\n]*\n(\t\\[ *[0-9]+\\] [^\n]+\n)*" table "${table}")
    string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" names "${table}")
  endif()
  if(NOT names)
    fault("${file} exports nothing")
    continue()
  endif()

  set(disassembly "")
  if(i386)
    set(listing "${binary}.disassembly")
    execute_process(COMMAND "${OBJDUMP}" -d --no-show-raw-insn "${binary}" OUTPUT_FILE "${listing}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "check_windows_binaries: ${OBJDUMP} -d ${binary} failed (${status})")
    endif()
    # Function labels and returns, in address order.
    file(STRINGS "${listing}" disassembly REGEX "^[0-9a-f]+ <.*>:$|:[ \t]+(repz |rep |bnd )?ret")
    file(REMOVE "${listing}")
  endif()

  foreach(line IN LISTS names)
    string(REGEX MATCH "^\\[ *([0-9]+)\\] (.+)$" _ "${line}")
    set(index "${CMAKE_MATCH_1}")
    string(STRIP "${CMAKE_MATCH_2}" name)
    if(name MATCHES "@")
      fault("${file} exports ${name} with its stdcall decoration, where the loader looks up plain names (link with -Wl,--kill-at)")
      continue()
    endif()
    list(APPEND exported "${name}")
    if(NOT name IN_LIST loader_names)
      fault("${file} exports ${name}, which the loader never looks up")
      continue()
    endif()
    if(NOT i386)
      continue()
    endif()
    set(expected "${loader_bytes_${name}}")
    if(expected STREQUAL "")
      fault("the loader's type for ${name} is not stdcall, while ${file}'s functions are")
      continue()
    endif()

    # Every ret between the label at the export's address and the next label.
    math(EXPR address "${image_base} + 0x${rva_${index}}" OUTPUT_FORMAT HEXADECIMAL)
    hex_key(want "${address}")
    set(inside OFF)
    set(found_label OFF)
    set(pops "")
    set(rets 0)
    foreach(d IN LISTS disassembly)
      if(d MATCHES "^([0-9a-f]+) <")
        hex_key(here "${CMAKE_MATCH_1}")
        if(inside)
          break()
        endif()
        if(here STREQUAL want)
          set(inside ON)
          set(found_label ON)
        endif()
      elseif(inside)
        if(d MATCHES "ret[ \t]+\\$(0x[0-9a-f]+)")
          math(EXPR n "${CMAKE_MATCH_1}")
        else()
          set(n 0)
        endif()
        list(APPEND pops "${n}")
        math(EXPR rets "${rets} + 1")
      endif()
    endforeach()
    if(NOT found_label)
      fault("${file}: no symbol at ${name}'s address ${address} (a stripped library cannot be checked)")
    elseif(rets EQUAL 0)
      fault("${file}: no ret in ${name}'s code: cannot tell what it pops")
    else()
      list(REMOVE_DUPLICATES pops)
      if(NOT pops STREQUAL expected)
        string(REPLACE ";" " and " pops "${pops}")
        fault("${file}: ${name} pops ${pops} bytes of arguments, while the loader's stdcall type pushes ${expected}")
      endif()
    endif()
  endforeach()
endforeach()

foreach(name IN LISTS loader_names)
  if(NOT name IN_LIST exported AND NOT name IN_LIST third_party)
    fault("the loader looks up ${name}, which no library of this build exports")
  endif()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Windows binaries:\n  ${text}")
endif()
list(LENGTH binaries count)
list(LENGTH exported exports)
set(what "names")
if(prefix)
  set(what "names and stdcall argument sizes")
endif()
message(STATUS "Windows binaries: ${count} import system DLLs only; ${exports} exports of ${checked_dlls} libraries match the loader's ${what}")
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
