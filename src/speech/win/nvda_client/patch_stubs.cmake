# Turns widl's client stubs into ones that answer transport failures with a
# status code instead of raising them.
#
#   cmake -DIN=<widl client stub .c> -DOUT=<patched .c> -P patch_stubs.cmake
#
# The interface declares no comm_status/fault_status (this widl ignores
# them), so the runtime would raise RPC_S_SERVER_UNAVAILABLE and friends as
# exceptions when NVDA is absent or quits in mid-call, which GCC code cannot
# catch.  Setting Oi_HAS_COMM_OR_FAULT (0x20) in each procedure's Oi flags
# and pointing the stub descriptor at a COMM_FAULT_OFFSETS table whose
# offsets are -1 ("the return value") makes the runtime's own exception
# frame catch the failure, release the call's buffers and store the status
# as the procedure's result -- what MIDL emits for
# [comm_status, fault_status] on an error_status_t result.
file(READ "${IN}" text)

# Each procedure header: implicit primitive handle, then Oi flags 0x48
# (Oi_HAS_RPCFLAGS | Oi_USE_NEW_INIT_ROUTINES).
set(flags_before "0x32,\t/* FC_BIND_PRIMITIVE */\n        0x48,")
set(flags_after "0x32,\t/* FC_BIND_PRIMITIVE */\n        0x68,\t/* Oi flags | Oi_HAS_COMM_OR_FAULT */")
string(REPLACE "${flags_before}" "@KORDO_FLAGS@" marked "${text}")
string(REGEX MATCHALL "@KORDO_FLAGS@" found "${marked}")
list(LENGTH found procedures)
if(NOT procedures EQUAL 4)
  message(FATAL_ERROR "patch_stubs: expected 4 procedure headers in ${IN}, found ${procedures}")
endif()
string(REPLACE "@KORDO_FLAGS@" "${flags_after}" text "${marked}")

# The stub descriptor's CommFaultOffsets field follows the MIDL version.
set(desc_before "0x50200ca, /* MIDL Version 5.2.202 */\n    0,")
set(desc_after "0x50200ca, /* MIDL Version 5.2.202 */\n    kordo_comm_fault_offsets,")
string(FIND "${text}" "${desc_before}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "patch_stubs: stub descriptor layout not recognised in ${IN}")
endif()
string(REPLACE "${desc_before}" "${desc_after}" text "${text}")

set(include_line "#include \"nvda_controller.h\"\n")
string(FIND "${text}" "${include_line}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "patch_stubs: header include not found in ${IN}")
endif()
string(REPLACE "${include_line}" "${include_line}
/* Both statuses go to the procedure's result (offset -1), for each of the
 * four procedures in operation-number order. */
static const COMM_FAULT_OFFSETS kordo_comm_fault_offsets[] = {{-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}};
" text "${text}")
file(WRITE "${OUT}" "${text}")
