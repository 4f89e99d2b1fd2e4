# brf_embed_file(TARGET target FILE path SYMBOL name)
# Compiles the bytes of `path` into `target` as
#   extern const unsigned char name[]; extern const std::size_t name_size;
# The file is read again whenever it changes.
function(brf_embed_file)
  cmake_parse_arguments(ARG "" "TARGET;FILE;SYMBOL" "" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded_${ARG_SYMBOL}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${ARG_FILE} -DOUT=${out} -DSYMBOL=${ARG_SYMBOL}
            -P ${BRF_EMBED_SCRIPT}
    DEPENDS ${ARG_FILE} ${BRF_EMBED_SCRIPT}
    COMMENT "Embedding ${ARG_FILE}")
  target_sources(${ARG_TARGET} PRIVATE ${out})
endfunction()
set(BRF_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_file.cmake CACHE INTERNAL "")
