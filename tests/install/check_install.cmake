# Installs the build into a scratch folder and checks that exactly the
# program, the command-line program with its manual page and service unit, the desktop entry,
# the icon and the operator's manual are installed, where a
# desktop and the program look for them, and that every picture, style sheet
# and page a manual page refers to is installed beside it, as it is in the
# build tree. Run by ctest:
# cmake -DBUILD_DIR=... -DWORK_DIR=... -DMANUAL_DIR=... -P <this>
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/usr
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
file(GLOB_RECURSE installed RELATIVE ${WORK_DIR} ${WORK_DIR}/*)
list(SORT installed)
file(GLOB_RECURSE manual RELATIVE ${MANUAL_DIR} ${MANUAL_DIR}/*.html ${MANUAL_DIR}/*.css
     ${MANUAL_DIR}/*.png)
set(expected usr/bin/tarvelo usr/bin/tarvelo-cli usr/lib/systemd/system/tarvelo-record@.service
             usr/share/applications/tarvelo.desktop
             usr/share/icons/hicolor/scalable/apps/tarvelo.svg
             usr/share/man/man1/tarvelo-cli.1)
foreach(file IN LISTS manual)
  list(APPEND expected usr/share/tarvelo/help/${file})
endforeach()
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed: ${installed}\nexpected: ${expected}")
endif()
file(STRINGS ${WORK_DIR}/usr/share/applications/tarvelo.desktop entry)
foreach(line "Name=Tarvelo II" "Exec=tarvelo" "Icon=tarvelo" "Type=Application")
  list(FIND entry "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the desktop entry lacks ${line}")
  endif()
endforeach()
foreach(language de en fr)
  set(page ${WORK_DIR}/usr/share/tarvelo/help/manual_${language}.html)
  if(NOT EXISTS ${page} OR NOT EXISTS ${BUILD_DIR}/bin/help/manual_${language}.html)
    message(FATAL_ERROR "the manual page manual_${language}.html is missing")
  endif()
  file(READ ${page} html)
  # Local references only: anchors (#...) and addresses with a scheme (x:...) are left alone.
  string(REGEX MATCHALL "(src|href)=\"[^\":#]+\"" references "${html}")
  foreach(reference IN LISTS references)
    string(REGEX REPLACE "^(src|href)=\"([^\"]+)\"$" "\\2" target "${reference}")
    if(NOT EXISTS ${WORK_DIR}/usr/share/tarvelo/help/${target})
      message(FATAL_ERROR "manual_${language}.html refers to ${target}, which is not installed")
    endif()
  endforeach()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
