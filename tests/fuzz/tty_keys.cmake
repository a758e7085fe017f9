# The terminal key decoder of kordo-tty: bytes typed on a terminal.
kordo_fuzz(fuzz_tty_keys fuzz_tty_keys.cpp ${PROJECT_SOURCE_DIR}/src/app/tty/key_decoder.cpp)
