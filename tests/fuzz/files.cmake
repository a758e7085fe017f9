# File delivery parsers: the HTTP response reader and the check-file list.
kordo_fuzz(fuzz_http_response ${CMAKE_CURRENT_LIST_DIR}/fuzz_http_response.cpp)
target_link_libraries(fuzz_http_response PRIVATE kordo_files)
kordo_fuzz(fuzz_check_list ${CMAKE_CURRENT_LIST_DIR}/fuzz_check_list.cpp)
target_link_libraries(fuzz_check_list PRIVATE kordo_files)
