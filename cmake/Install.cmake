# Installing Lunabrik like any Linux desktop program (`make install`, `make package`):
#   bin/                               lunabrik, lunabrik-headless
#   share/lunabrik/                    the free basic.rom, dev_dos.rom and font.bin (and the
#                                      debugger's basic.rom.sym), which the
#                                      programs copy into a new per-user folder, and the
#                                      Lunabrik.cfg (a real ABC80's pace) a new folder starts with
#   share/applications/                lunabrik.desktop (the menu entry)
#   share/icons/hicolor/*/apps/        lunabrik.svg and lunabrik.png in five sizes
#   share/metainfo/                    the AppStream description for software centres
#   share/man/man1/                    lunabrik.1.gz, lunabrik-headless.1.gz
#   share/doc/lunabrik/                README.md, LICENSE, state-format.md (the .lbs files)
# The programs find the images beside their bin folder (bin/../share/lunabrik), so an install
# under any prefix, or a relocated one, works.
include(GNUInstallDirs)
# Folders made by the install are 0755 whatever the umask (a .deb must not hold group-writable ones).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(LUNABRIK_APP_ID io.github.lunabrik.Lunabrik)
set(LUNABRIK_DATA ${CMAKE_SOURCE_DIR}/data)

foreach(program lunabrik lunabrik-headless)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

if(TARGET lunabrik_roms)
  install(FILES ${LUNABRIK_IMAGE_DIR}/basic.rom ${LUNABRIK_IMAGE_DIR}/dev_dos.rom
          ${LUNABRIK_IMAGE_DIR}/basic.rom.sym DESTINATION ${CMAKE_INSTALL_DATADIR}/lunabrik)
endif()
if(TARGET lunabrik_font)
  install(FILES ${LUNABRIK_IMAGE_DIR}/font.bin DESTINATION ${CMAKE_INSTALL_DATADIR}/lunabrik)
endif()
if(TARGET lunabrik_settings)
  install(FILES ${LUNABRIK_IMAGE_DIR}/Lunabrik.cfg DESTINATION ${CMAKE_INSTALL_DATADIR}/lunabrik)
endif()

# Desktop integration: only with the desktop program.
if(TARGET lunabrik)
  install(FILES ${LUNABRIK_DATA}/lunabrik.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${LUNABRIK_DATA}/${LUNABRIK_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${CMAKE_SOURCE_DIR}/shell/icons/lunabrik.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 32 48 64 128)
    install(FILES ${CMAKE_SOURCE_DIR}/shell/icons/lunabrik-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME lunabrik.png)
  endforeach()
endif()

# Man pages, with the project's version filled in and compressed as Debian expects (-n: no name or
# time stamp in the gzip header, so the same page gives the same bytes).
set(man_pages)
foreach(program lunabrik lunabrik-headless)
  if(TARGET ${program})
    configure_file(${LUNABRIK_DATA}/${program}.1 ${CMAKE_BINARY_DIR}/man/${program}.1 @ONLY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${program}.1.gz
      COMMAND gzip -9 -n -f -k ${CMAKE_BINARY_DIR}/man/${program}.1
      DEPENDS ${CMAKE_BINARY_DIR}/man/${program}.1
      COMMENT "Compressing the man page ${program}.1")
    list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  endif()
endforeach()
if(man_pages)
  add_custom_target(lunabrik_man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Not CMAKE_INSTALL_DOCDIR: that takes the project's name, capital letter and all.
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
              ${CMAKE_SOURCE_DIR}/docs/state-format.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/lunabrik)

# The .deb (`make package`): installs under /usr, its library dependencies found by
# dpkg-shlibdeps. Qt loads its window-system plugin at run time, which dpkg-shlibdeps cannot see,
# so the package that holds the X11 one is named here (on Wayland, Qt goes through XWayland unless
# the user has installed qt6-wayland).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lunabrik)
set(CPACK_PACKAGE_VENDOR "The Lunabrik developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "emulator of the ABC80 home computer")
set(CPACK_PACKAGE_DESCRIPTION
  "Lunabrik emulates the ABC80, the Swedish Z80 home computer of 1978: the Z80\n\
processor, the 16 KB BASIC ROM and 4 KB device ROM, the 40 by 24 text screen\n\
with mosaic graphics, the Swedish keyboard and the 50 Hz clock interrupt.\n\
It comes with free ROM images of its own that start a small BASIC, and a\n\
runner without a window (lunabrik-headless) for scripts.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(LUNABRIK_MAINTAINER "The Lunabrik developers" CACHE STRING "The .deb's Maintainer field")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUNABRIK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs) # Debian's section for emulators
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # lunabrik_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET lunabrik)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
include(CPack)
