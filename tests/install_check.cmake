# Installs the build into a scratch prefix and checks that the desktop finds
# what belongs together: the program, the desktop entry named after the
# application id, its icon in the hicolor theme, and the AppStream metadata
# that launches that entry.
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
    share/icons/hicolor/scalable/apps/${APP_ID}.svg)
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()

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
