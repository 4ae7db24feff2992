# The resources of a Windows executable: the application manifest (run as the invoker,
# common controls version 6, per-monitor DPI awareness, the Windows versions it is known to
# run on) and the version resource, whose product name, company and version come from the
# cache variables UPDATER_PRODUCT_NAME, UPDATER_COMPANY_NAME and UPDATER_PRODUCT_VERSION.
#
#   updater_windows_resources(<target> "<file description>")

if(NOT UPDATER_PRODUCT_VERSION MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
  message(FATAL_ERROR "UPDATER_PRODUCT_VERSION must be up to four numbers separated by dots, "
                      "not \"${UPDATER_PRODUCT_VERSION}\"")
endif()
string(REPLACE "." ";" _updater_version_parts "${UPDATER_PRODUCT_VERSION}")
list(LENGTH _updater_version_parts _updater_version_count)
while(_updater_version_count LESS 4)
  list(APPEND _updater_version_parts 0)
  math(EXPR _updater_version_count "${_updater_version_count} + 1")
endwhile()
foreach(_part IN LISTS _updater_version_parts)
  if(_part GREATER 65535)
    message(FATAL_ERROR "UPDATER_PRODUCT_VERSION: each number is at most 65535")
  endif()
endforeach()
# "1,2,0,0" for the binary fields, "1.2.0.0" for the texts and the manifest.
string(REPLACE ";" "," UPDATER_VERSION_COMMAS "${_updater_version_parts}")
string(REPLACE ";" "." UPDATER_VERSION_DOTS "${_updater_version_parts}")

# A resource script's string doubles its quotes.
function(_updater_rc_string out text)
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(updater_windows_resources target description)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(UPDATER_RC_NAME "${name}")
  _updater_rc_string(UPDATER_RC_DESCRIPTION "${description}")
  _updater_rc_string(UPDATER_RC_PRODUCT "${UPDATER_PRODUCT_NAME}")
  _updater_rc_string(UPDATER_RC_COMPANY "${UPDATER_COMPANY_NAME}")
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  set(UPDATER_RC_MANIFEST "${dir}/${name}.exe.manifest")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/app.manifest.in ${UPDATER_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/app.rc.in ${dir}/${name}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${name}.rc)
  # The script names the manifest by its path; a changed manifest rebuilds the resources.
  set_source_files_properties(${dir}/${name}.rc PROPERTIES OBJECT_DEPENDS ${UPDATER_RC_MANIFEST})
endfunction()
