# brf_add_version_resource(target)
# Gives the Windows build of `target` the updater's version resource
# (updater.rc beside this file). Other platforms have no version resources:
# there it does nothing.
function(brf_add_version_resource target)
  if(WIN32)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/updater.rc)
  endif()
endfunction()
