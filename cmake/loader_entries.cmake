# Writes a C++ file that declares each entry point the speech loader looks up
# in a library, with the loader's own function type, and takes its address.
#
#   cmake -DIN=<src/speech/speech.cpp> -DOUT=<file.cpp> -P loader_entries.cmake
#
# The loader finds an entry point as entry<Type>(library, "name"); Type is a
# function-pointer type of speech/dll_entry.h.  Compiled for i686, each
# reference in OUT becomes an undefined symbol _name@N whose N the compiler
# computed from Type: the bytes of arguments the loader pushes for a stdcall
# call, which the library's function must pop.  A Type without stdcall gives
# _name alone.  check_windows_binaries.cmake compares these with the
# libraries' exports.  The same name looked up with two types fails to
# compile, as it should.
cmake_policy(VERSION 3.20)

file(READ "${IN}" source)
set(id "[A-Za-z_][A-Za-z0-9_]*")
string(REGEX MATCHALL "entry<${id}>\\([^,()]*,[ \t\r\n]*\"${id}\"\\)" calls "${source}")
list(REMOVE_DUPLICATES calls)
if(NOT calls)
  message(FATAL_ERROR "loader_entries: no entry<Type>(library, \"name\") look-up in ${IN}: "
                      "nothing to compare the speech libraries' exports with")
endif()

set(declarations "")
set(addresses "")
foreach(call IN LISTS calls)
  string(REGEX REPLACE "^entry<(${id})>.*\"(${id})\"\\)$" "\\1;\\2" pair "${call}")
  list(GET pair 0 type)
  list(GET pair 1 name)
  string(APPEND declarations "std::remove_pointer_t<${type}> ${name};\n")
  string(APPEND addresses "    reinterpret_cast<void*>(&${name}),\n")
endforeach()

file(WRITE "${OUT}" "// Made by cmake/loader_entries.cmake from ${IN}: the entry points the
// speech loader looks up, with its types.  Compiled, never linked.
#include <type_traits>

#include \"speech/dll_entry.h\"

extern \"C\" {
${declarations}
// External, so that the references stay in the object.
extern void* const kordoLoaderEntries[];
void* const kordoLoaderEntries[] = {
${addresses}};
}
")
