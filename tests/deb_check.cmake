# Builds the Debian package of the build into a scratch folder (as make deb
# does, with the same CPack settings) and checks it: the program where the
# system's games go, its manual page and changelog, and not one error or
# warning from lintian.
#   cmake -DBUILD_DIR=<build> -DSCRATCH=<scratch> -DCPACK=<cpack>
#         -DLINTIAN=<lintian> -DDPKG_DEB=<dpkg-deb> -P deb_check.cmake
foreach(tool LINTIAN DPKG_DEB)
  if(NOT ${tool} OR NOT EXISTS "${${tool}}")
    message(FATAL_ERROR "${tool} was not found; install it, or leave out the tests labelled deb")
  endif()
endforeach()

file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
execute_process(COMMAND ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${SCRATCH}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB debs ${SCRATCH}/*.deb)
list(LENGTH debs nDebs)
if(NOT rc EQUAL 0 OR NOT nDebs EQUAL 1)
  message(FATAL_ERROR "cpack made ${nDebs} packages (status ${rc}):\n${out}")
endif()

execute_process(COMMAND ${DPKG_DEB} --contents ${debs}
                RESULT_VARIABLE rc OUTPUT_VARIABLE contents)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb cannot read ${debs}")
endif()
foreach(path
    usr/games/slabix
    usr/share/man/man6/slabix.6.gz
    usr/share/doc/slabix/changelog.gz
    usr/share/doc/slabix/copyright
    usr/share/applications/io.github.slabix.Slabix.desktop)
  if(NOT contents MATCHES " \\./${path}\n")
    message(FATAL_ERROR "the package lacks ${path}:\n${contents}")
  endif()
endforeach()
if(contents MATCHES " \\./usr/bin/")
  message(FATAL_ERROR "the package installs into usr/bin:\n${contents}")
endif()

# Every tag lintian shows, with its severity first; E: and W: fail the check.
execute_process(COMMAND ${LINTIAN} --no-tag-display-limit ${debs}
                RESULT_VARIABLE rc OUTPUT_VARIABLE tags ERROR_VARIABLE errors)
message("${tags}")
string(REGEX MATCHALL "(^|\n)[EW]: [^\n]*" bad "${tags}")
if(bad OR NOT rc EQUAL 0)
  message(FATAL_ERROR "lintian (status ${rc}) rejects the package:\n${tags}${errors}")
endif()
file(REMOVE_RECURSE ${SCRATCH})
