kordo_fuzz(fuzz_config ${CMAKE_CURRENT_LIST_DIR}/fuzz_config.cpp)
target_link_libraries(fuzz_config PRIVATE kordo_net)
