# Writes the development build's desktop file into the user's applications folder,
# where KWin looks for what a program may use (cmake --build --preset default
# --target kde-grant). KWin reads the folder again only when its modification time
# changes, so the folder is touched too.
#   -D TEMPLATE=desktop.in  -D EXECUTABLE=path of zoba-capture
if(DEFINED ENV{XDG_DATA_HOME} AND NOT "$ENV{XDG_DATA_HOME}" STREQUAL "")
  set(applications "$ENV{XDG_DATA_HOME}/applications")
else()
  set(applications "$ENV{HOME}/.local/share/applications")
endif()
set(ZOBA_CAPTURE_EXEC "${EXECUTABLE}")
file(MAKE_DIRECTORY "${applications}")
configure_file("${TEMPLATE}" "${applications}/zoba-capture-dev.desktop" @ONLY)
execute_process(COMMAND touch "${applications}")
message(STATUS "KWin grants screenshots to ${EXECUTABLE} (${applications}/zoba-capture-dev.desktop)")
