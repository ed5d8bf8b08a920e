# Installs the build into a scratch DESTDIR and checks that it holds the
# service's bus policy exactly once, identical to the file the bus tests use.
# Arguments: BUILD_DIR, TESTED_POLICY, SCRATCH.
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
set(ENV{DESTDIR} ${SCRATCH}/destdir)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install into ${SCRATCH}/destdir failed:\n${out}${err}")
endif()
get_filename_component(name ${TESTED_POLICY} NAME)
file(GLOB_RECURSE installed LIST_DIRECTORIES false ${SCRATCH}/destdir/*/${name})
list(LENGTH installed count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "the install holds ${count} copies of ${name}: ${installed}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${installed} ${TESTED_POLICY}
                RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${installed} differs from the tested ${TESTED_POLICY}")
endif()
message(STATUS "installed ${installed} is the tested policy")
file(REMOVE_RECURSE ${SCRATCH})
