# brf_add_version_resource(target [VERSION number])
# Gives the Windows build of `target` the updater's version resource, made
# from updater.rc.in beside this file for the version `number` (a count of
# thousandths; default: the build's UPDATER_VERSION). Other platforms have no
# version resources: there it does nothing.
set(BRF_VERSION_RESOURCE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/updater.rc.in CACHE INTERNAL "")
function(brf_add_version_resource target)
  cmake_parse_arguments(ARG "" "VERSION" "" ${ARGN})
  if(NOT ARG_VERSION)
    set(ARG_VERSION ${UPDATER_VERSION})
  endif()
  if(WIN32)
    set(BRF_VERSION ${ARG_VERSION})
    math(EXPR BRF_VERSION_MAJOR "${ARG_VERSION} / 1000")
    math(EXPR BRF_VERSION_MINOR "${ARG_VERSION} % 1000")
    math(EXPR padded "${BRF_VERSION_MINOR} + 1000")
    string(SUBSTRING ${padded} 1 3 thousandths)
    set(BRF_VERSION_TEXT "${BRF_VERSION_MAJOR}.${thousandths}")
    configure_file(${BRF_VERSION_RESOURCE_TEMPLATE}
                   ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  endif()
endfunction()
