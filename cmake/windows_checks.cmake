# Build-time checks of the Windows files the package ships (kordo.exe and the
# speech libraries), for what can be checked without running them: see
# check_windows_binaries.cmake.  The i686 release build cannot run on
# machines whose kernel refuses 32-bit programs, so these checks are the
# part of its testing that runs everywhere.
#
# kordo_windows_checks(STAMP_VAR FILES_LIST TARGET...): defines the custom
# command that makes a stamp (its path goes to STAMP_VAR) once the binaries
# listed in FILES_LIST (package-files.txt, the files of the TARGETs) pass,
# again whenever one of them is rebuilt; a target that DEPENDS on the stamp
# fails to build while they do not.

function(kordo_windows_checks stamp_var files_list)
  # The speech loader's entry points with its own types, compiled for the
  # target (never linked): the stdcall sizes the libraries must match.
  set(source ${PROJECT_SOURCE_DIR}/src/speech/speech.cpp)
  set(entries ${CMAKE_BINARY_DIR}/windows_checks/loader_entries.cpp)
  add_custom_command(
    OUTPUT ${entries}
    COMMAND ${CMAKE_COMMAND} -DIN=${source} -DOUT=${entries}
            -P ${PROJECT_SOURCE_DIR}/cmake/loader_entries.cmake
    DEPENDS ${source} ${PROJECT_SOURCE_DIR}/cmake/loader_entries.cmake
    COMMENT "The speech loader's entry points"
    VERBATIM)
  add_library(kordo_loader_entries OBJECT ${entries})
  target_include_directories(kordo_loader_entries PRIVATE ${PROJECT_SOURCE_DIR}/src)
  kordo_warnings(kordo_loader_entries)

  set(stamp ${CMAKE_BINARY_DIR}/windows_checks/checked.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DNM=${CMAKE_NM} -DFILES=${files_list}
            -DENTRIES=$<TARGET_OBJECTS:kordo_loader_entries>
            # jfwapi.dll comes with JAWS; the build makes none.
            -DTHIRD_PARTY=JFWSayString
            -DSTAMP=${stamp} -P ${PROJECT_SOURCE_DIR}/cmake/check_windows_binaries.cmake
    DEPENDS ${ARGN} kordo_loader_entries $<TARGET_OBJECTS:kordo_loader_entries>
            ${PROJECT_SOURCE_DIR}/cmake/check_windows_binaries.cmake
    COMMENT "Checking the Windows binaries: imports, the speech libraries' exports"
    VERBATIM)
  set(${stamp_var} ${stamp} PARENT_SCOPE)
endfunction()
