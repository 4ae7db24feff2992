# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P install_twice.cmake
# Installs the build twice into a fresh prefix, and twice under DESTDIR: the first install
# makes update.ini from the example; a configured update.ini (its key, its server) survives
# the second, while update.ini.example is the shipped example each time.

set(example "${SOURCE_DIR}/scripts/update.ini.example")
file(READ "${example}" example_text)
set(configured "[Current]\nAppName=Configured\nUpdateServer=https://updates.example.com/update/\nPublicKey=KEY\n")

function(install_into prefix destdir)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${destdir}" ${CMAKE_COMMAND} --install "${BUILD_DIR}"
                          --prefix "${prefix}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "install into ${destdir}${prefix} failed: ${out}")
  endif()
endfunction()

function(expect_file path text what)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "${what}: ${path} is missing")
  endif()
  file(READ "${path}" actual)
  if(NOT actual STREQUAL text)
    message(FATAL_ERROR "${what}: ${path} holds\n${actual}\ninstead of\n${text}")
  endif()
endfunction()

foreach(layout plain destdir)
  file(REMOVE_RECURSE "${WORK_DIR}")
  if(layout STREQUAL "plain")
    set(prefix "${WORK_DIR}/app")
    set(destdir "")
  else()
    set(prefix "/opt/app")
    set(destdir "${WORK_DIR}/stage")
  endif()
  set(root "${destdir}${prefix}")

  install_into("${prefix}" "${destdir}")
  expect_file("${root}/update.ini" "${example_text}" "${layout}, first install")
  expect_file("${root}/update.ini.example" "${example_text}" "${layout}, first install")

  file(WRITE "${root}/update.ini" "${configured}")
  file(WRITE "${root}/update.ini.example" "an older example")
  install_into("${prefix}" "${destdir}")
  expect_file("${root}/update.ini" "${configured}" "${layout}, second install")
  expect_file("${root}/update.ini.example" "${example_text}" "${layout}, second install")
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")
