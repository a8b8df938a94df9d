# Installs the unit, the autostart entry, the menu, the file type, the help
# and the package's documents for the prefix being installed to.
set(prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr")
  set(etc /etc)
  set(units /lib/systemd/system)
elseif(prefix STREQUAL "/usr/local")
  # The desktop reads autostart entries and menus from /etc/xdg only.
  set(etc /etc)
  set(units "${prefix}/lib/systemd/system")
else()
  set(etc "${prefix}/etc")
  set(units "${prefix}/lib/systemd/system")
endif()
set(share "${prefix}/${VARDEL_DATADIR}")
execute_process(
  COMMAND "${VARDEL_SHELL_FILES}" "${VARDEL_STAGE}" "${prefix}/${VARDEL_BINDIR}"
          "${prefix}/${VARDEL_SBINDIR}/vardeld" "${share}/vardel/help.html"
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "Can't write the desktop and system files")
endif()
execute_process(COMMAND gzip -9nc "${VARDEL_PACKAGING}/changelog"
                OUTPUT_FILE "${VARDEL_STAGE}/changelog.gz" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "Can't compress the changelog")
endif()

function(put destination)
  file(INSTALL DESTINATION "${destination}" TYPE FILE FILES ${ARGN})
endfunction()
put("${units}" "${VARDEL_STAGE}/vardelclient.service")
put("${etc}/xdg/autostart" "${VARDEL_STAGE}/vardelnotify.desktop")
put("${etc}/xdg/menus/applications-merged" "${VARDEL_STAGE}/vardel-pellin.menu")
file(INSTALL DESTINATION "${share}/applications" TYPE DIRECTORY
     FILES "${VARDEL_STAGE}/applications/")
put("${share}/desktop-directories" "${VARDEL_STAGE}/vardel-pellin.directory")
put("${share}/mime/packages" "${VARDEL_STAGE}/vardel-saf.xml")
file(INSTALL DESTINATION "${share}/icons/hicolor/scalable/mimetypes" TYPE FILE
     RENAME application-x-vardel-saf.svg FILES "${VARDEL_ICON}")
put("${share}/vardel" "${VARDEL_PACKAGING}/help.html")
put("${share}/doc/vardel" "${VARDEL_PACKAGING}/copyright" "${VARDEL_STAGE}/changelog.gz")
