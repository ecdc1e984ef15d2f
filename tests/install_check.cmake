# Installs the build into a scratch prefix and checks that the desktop finds
# what belongs together: the program, the desktop entry named after the
# application id, its icon in the hicolor theme, the AppStream metadata that
# launches that entry, and the manual page (compressed, section 6). What only
# the Debian package has (the program under games/, the changelog) stays out.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<scratch> -P install_check.cmake
set(APP_ID io.github.slabix.Slabix)
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc})")
endif()

foreach(path
    bin/slabix
    share/applications/${APP_ID}.desktop
    share/metainfo/${APP_ID}.metainfo.xml
    share/icons/hicolor/scalable/apps/${APP_ID}.svg
    share/man/man6/slabix.6.gz)
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
foreach(path games share/doc/slabix/changelog.gz)
  if(EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "installed, though only the package should have it: ${path}")
  endif()
endforeach()

file(READ ${PREFIX}/share/man/man6/slabix.6.gz magic LIMIT 2 HEX)
if(NOT magic STREQUAL "1f8b")
  message(FATAL_ERROR "the manual page is not compressed with gzip")
endif()

file(READ ${PREFIX}/share/applications/${APP_ID}.desktop desktop)
foreach(line "Exec=slabix" "Icon=${APP_ID}" "Type=Application" "Name=Slabix")
  if(NOT desktop MATCHES "(^|\n)${line}(\n|$)")
    message(FATAL_ERROR "the desktop entry lacks the line ${line}")
  endif()
endforeach()

file(READ ${PREFIX}/share/metainfo/${APP_ID}.metainfo.xml metainfo)
foreach(tag "<id>${APP_ID}</id>"
            "<launchable type=\"desktop-id\">${APP_ID}.desktop</launchable>"
            "<binary>slabix</binary>")
  string(FIND "${metainfo}" "${tag}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the metainfo lacks ${tag}")
  endif()
endforeach()

file(READ ${PREFIX}/share/icons/hicolor/scalable/apps/${APP_ID}.svg icon)
if(NOT icon MATCHES "<svg")
  message(FATAL_ERROR "the installed icon is not an SVG image")
endif()
file(REMOVE_RECURSE ${PREFIX})
