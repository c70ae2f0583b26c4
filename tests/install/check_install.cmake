# Installs the build into a scratch folder and checks that exactly the
# program, the command-line program with its manual page, the desktop entry
# and the icon are installed, where a desktop
# looks for them. Run by ctest: cmake -DBUILD_DIR=... -DWORK_DIR=... -P <this>
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/usr
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
file(GLOB_RECURSE installed RELATIVE ${WORK_DIR} ${WORK_DIR}/*)
list(SORT installed)
set(expected usr/bin/tarvelo usr/bin/tarvelo-cli usr/share/applications/tarvelo.desktop
             usr/share/icons/hicolor/scalable/apps/tarvelo.svg
             usr/share/man/man1/tarvelo-cli.1)
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
file(REMOVE_RECURSE ${WORK_DIR})
