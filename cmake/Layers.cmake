# Include directories per layer. Every source includes headers by their path from the
# source root ("http/IdHTTP.h"), but no target sees the whole root: each folder is
# published through a directory of its own in the build tree that holds one symbolic
# link to it, and a target adds that directory only for the folders it publishes. A
# library's folders reach exactly the targets that link it, so a header of a layer that
# a target does not link is not found, and the build stops there.
#
#   updater_publish(TARGET [PUBLIC|PRIVATE] FOLDER...)
#
# FOLDER is relative to the source root. PUBLIC (the default) also hands the folders on
# to whatever links TARGET; PRIVATE keeps them to TARGET (executables, tests).
set(UPDATER_LAYER_ROOT ${CMAKE_BINARY_DIR}/layers)

function(updater_publish target)
  set(scope PUBLIC)
  set(folders ${ARGN})
  list(GET folders 0 first)
  if(first STREQUAL "PUBLIC" OR first STREQUAL "PRIVATE" OR first STREQUAL "INTERFACE")
    set(scope ${first})
    list(REMOVE_AT folders 0)
  endif()
  foreach(folder IN LISTS folders)
    if(NOT IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${folder})
      message(FATAL_ERROR "updater_publish(${target}): no folder ${folder}")
    endif()
    string(REPLACE "/" "-" key ${folder})
    set(root ${UPDATER_LAYER_ROOT}/${key})
    set(link ${root}/${folder})
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
    target_include_directories(${target} ${scope} ${root})
  endforeach()
endfunction()
