kordo_fuzz(fuzz_ogg fuzz_ogg.cpp)
target_link_libraries(fuzz_ogg PRIVATE kordo_audio)
# Seeds: small valid files made by sox into the corpus folder test.sh uses.
find_program(SOX sox)
if(SOX)
  set(ogg_corpus ${CMAKE_BINARY_DIR}/corpus/fuzz_ogg)
  add_custom_command(TARGET fuzz_ogg POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ogg_corpus}
    COMMAND ${SOX} -q -n -r 8000 -c 1 ${ogg_corpus}/seed-mono.ogg synth 0.05 sine 440
    COMMAND ${SOX} -q -n -r 22050 -c 2 ${ogg_corpus}/seed-stereo.ogg synth 0.05 sine 440 sine 660
    VERBATIM)
endif()
