# The build-time checks of the Windows binaries (cmake/check_windows_binaries.cmake)
# on small i686 libraries, each made with one fault a real build could have:
# the check must pass the sound one and fail each faulty one, naming the
# fault.
#
#   cmake -DCC=<i686 gcc> -DOBJDUMP=<i686 objdump> -DNM=<i686 nm>
#         -DCHECK=<check_windows_binaries.cmake> -DWORK=<folder> -P check_binaries_test.cmake
cmake_policy(VERSION 3.20)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}" "${WORK}/decorated" "${WORK}/cdecl" "${WORK}/import")

# The library as it should be, and its faulty variants.
file(WRITE "${WORK}/lib.c" [[
#define API __declspec(dllexport) int __stdcall
API probeSay(const char* text, int interrupt) { return text[0] + interrupt; }
API probeStop(void) { return 0; }
]])
# WINAPI forgotten on one function: it returns with a plain ret.
file(WRITE "${WORK}/lib_cdecl.c" [[
__declspec(dllexport) int probeSay(const char* text, int interrupt) { return text[0] + interrupt; }
__declspec(dllexport) int __stdcall probeStop(void) { return 0; }
]])
# Linked against a library that would not be on a player's machine.
file(WRITE "${WORK}/helper.c" [[
__declspec(dllexport) int helperValue(void) { return 1; }
]])
file(WRITE "${WORK}/lib_import.c" [[
__declspec(dllimport) int helperValue(void);
#define API __declspec(dllexport) int __stdcall
API probeSay(const char* text, int interrupt) { return text[0] + interrupt + helperValue(); }
API probeStop(void) { return 0; }
]])

# The loader's side: what it looks up, with its types.  ReaderSpeak stands
# for an entry point of a screen reader's own library.
file(WRITE "${WORK}/entries.c" [[
int __stdcall probeSay(const char* text, int interrupt);
int __stdcall probeStop(void);
int __stdcall ReaderSpeak(const char* text);
void* const entries[] = {(void*)probeSay, (void*)probeStop, (void*)ReaderSpeak};
]])
# The loader's type without WINAPI.
file(WRITE "${WORK}/entries_cdecl.c" [[
int probeSay(const char* text, int interrupt);
int __stdcall probeStop(void);
void* const entries[] = {(void*)probeSay, (void*)probeStop};
]])

function(cc)
  execute_process(COMMAND "${CC}" -O2 ${ARGN} WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status
                  ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${CC} ${ARGN}: ${err}")
  endif()
endfunction()
set(dll -shared -static-libgcc)
cc(${dll} -Wl,--kill-at -o probe.dll lib.c)
cc(${dll} -o decorated/probe.dll lib.c)
cc(${dll} -Wl,--kill-at -o cdecl/probe.dll lib_cdecl.c)
cc(${dll} -o helper.dll helper.c)
cc(${dll} -Wl,--kill-at -o import/probe.dll lib_import.c helper.dll)
cc(-c -o entries.o entries.c)
cc(-c -o entries_cdecl.o entries_cdecl.c)

# name | library | loader object | third-party names | "pass" or the fault's words
set(cases
    "sound|probe.dll|entries.o|ReaderSpeak|pass"
    "stdcall forgotten in the library|cdecl/probe.dll|entries.o|ReaderSpeak|probeSay pops 0 bytes of arguments, while the loader's stdcall type pushes 8"
    "stdcall forgotten in the loader|probe.dll|entries_cdecl.o||the loader's type for probeSay is not stdcall"
    "decorated export names|decorated/probe.dll|entries.o|ReaderSpeak|exports probeSay@8 with its stdcall decoration"
    "an entry no library exports|probe.dll|entries.o||the loader looks up ReaderSpeak, which no library of this build exports"
    "a non-system import|import/probe.dll|entries.o|ReaderSpeak|imports helper.dll, which is not a system DLL")

set(failures "")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 library)
  list(GET fields 2 entries)
  list(GET fields 3 third_party)
  list(GET fields 4 expected)
  file(WRITE "${WORK}/files.txt" "${WORK}/${library}\n")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -DOBJDUMP=${OBJDUMP} -DNM=${NM} -DFILES=${WORK}/files.txt
            -DENTRIES=${WORK}/${entries} -DTHIRD_PARTY=${third_party} -DSTAMP=${WORK}/stamp
            -P "${CHECK}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX REPLACE "[ \t\r\n]+" " " flat "${out}")
  if(expected STREQUAL "pass")
    if(NOT status EQUAL 0 OR NOT EXISTS "${WORK}/stamp")
      list(APPEND failures "${name}: refused (${status}): ${out}")
    endif()
  elseif(status EQUAL 0 OR EXISTS "${WORK}/stamp")
    list(APPEND failures "${name}: passed, expected \"${expected}\"")
  else()
    string(FIND "${flat}" "${expected}" at)
    if(at EQUAL -1)
      list(APPEND failures "${name}: refused without \"${expected}\": ${out}")
    endif()
  endif()
  file(REMOVE "${WORK}/stamp")
endforeach()

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
list(LENGTH cases count)
message(STATUS "${count} cases as expected")
