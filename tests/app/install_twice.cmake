# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P install_twice.cmake
# Installs the build twice into a fresh prefix, and twice under DESTDIR: the first install
# makes update.ini from the example; a configured update.ini (its key, its server) survives
# the second, while update.ini.example is the shipped example each time. Into the prefix it
# installs as the README says, with --strip: the updater comes out smaller than the build's.

set(example "${SOURCE_DIR}/scripts/update.ini.example")
file(READ "${example}" example_text)
set(configured "[Current]\nAppName=Configured\nUpdateServer=https://updates.example.com/update/\nPublicKey=KEY\n")

function(install_into prefix destdir)
  set(strip "")
  if(destdir STREQUAL "")
    set(strip --strip)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${destdir}" ${CMAKE_COMMAND} --install "${BUILD_DIR}"
                          --prefix "${prefix}" ${strip} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
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
  if(layout STREQUAL "plain")
    file(SIZE "${root}/update" installed)
    file(SIZE "${BUILD_DIR}/bin/update" built)
    if(NOT installed LESS built)
      message(FATAL_ERROR "--strip: the installed updater has ${installed} bytes, the build's ${built}")
    endif()
  endif()

  file(WRITE "${root}/update.ini" "${configured}")
  file(WRITE "${root}/update.ini.example" "an older example")
  install_into("${prefix}" "${destdir}")
  expect_file("${root}/update.ini" "${configured}" "${layout}, second install")
  expect_file("${root}/update.ini.example" "${example_text}" "${layout}, second install")
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")
