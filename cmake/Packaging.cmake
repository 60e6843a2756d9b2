# What an installed Vantry Pro holds beside its three programs and the segmentation models
# (those install from their own folders), and the Debian package CPack makes of it
# (scripts/package builds it; `cpack` in a build tree configured with CMAKE_INSTALL_PREFIX=/usr).

# The desktop entry and the application icon, found by the desktop through the hicolor theme.
install(FILES ${CMAKE_SOURCE_DIR}/app/desktop/vantry.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/app/desktop/vantry.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The PNG sizes are the ones the user's set-up draws (scripts/install-desktop-entry), drawn
# into a scratch data folder of the build.
set(_vantry_icon_data ${CMAKE_BINARY_DIR}/packaging/icon-data)
add_custom_command(OUTPUT ${_vantry_icon_data}/icons/hicolor/256x256/apps/vantry.png
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_vantry_icon_data}
  COMMAND ${CMAKE_COMMAND} -E env XDG_DATA_HOME=${_vantry_icon_data}
          python3 ${CMAKE_SOURCE_DIR}/scripts/install-desktop-entry ${CMAKE_INSTALL_FULL_BINDIR}/vantry
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/install-desktop-entry ${CMAKE_SOURCE_DIR}/app/desktop/vantry.svg
  VERBATIM)
add_custom_target(vantry_package_icons ALL DEPENDS ${_vantry_icon_data}/icons/hicolor/256x256/apps/vantry.png)
install(DIRECTORY ${_vantry_icon_data}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
        FILES_MATCHING PATTERN "vantry.png")

# Manual pages and the changelog go out compressed (gzip -n: no name or time stamp inside,
# so the same sources give the same files).
set(VANTRY_PACKAGE_DOC_NAME vantry-pro)
set(_vantry_gzipped)
function(_vantry_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9 -n -c ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
  set(_vantry_gzipped ${_vantry_gzipped} ${output} PARENT_SCOPE)
endfunction()
set(_vantry_pkgdir ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_vantry_pkgdir})
foreach(page vantry.1 vantry-gallery.1)
  _vantry_gzip(${CMAKE_SOURCE_DIR}/docs/man/${page} ${_vantry_pkgdir}/${page}.gz)
endforeach()
# vantry-cli's page is made from its help texts, so it lists every command the build holds.
add_custom_command(OUTPUT ${_vantry_pkgdir}/vantry-cli.1
  COMMAND ${CMAKE_COMMAND} -DCLI=$<TARGET_FILE:vantry-cli> -DVERSION=${PROJECT_VERSION}
          -DOUT=${_vantry_pkgdir}/vantry-cli.1 -P ${CMAKE_SOURCE_DIR}/cmake/CliManPage.cmake
  DEPENDS vantry-cli ${CMAKE_SOURCE_DIR}/cmake/CliManPage.cmake
  VERBATIM)
_vantry_gzip(${_vantry_pkgdir}/vantry-cli.1 ${_vantry_pkgdir}/vantry-cli.1.gz)
foreach(page vantry.1 vantry-cli.1 vantry-gallery.1)
  install(FILES ${_vantry_pkgdir}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
_vantry_gzip(${CMAKE_SOURCE_DIR}/docs/package/changelog ${_vantry_pkgdir}/changelog.gz)
add_custom_target(vantry_package_docs ALL DEPENDS ${_vantry_gzipped})
install(FILES ${_vantry_pkgdir}/changelog.gz ${CMAKE_SOURCE_DIR}/docs/package/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${VANTRY_PACKAGE_DOC_NAME})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantry-pro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vantry Pro developers")
set(VANTRY_PACKAGE_MAINTAINER "Vantry Pro developers <maintainers@vantry-pro.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VANTRY_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live 3D virtual broadcast studio with no green screen")
# CPack puts the summary above this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Vantry Pro renders one of four procedural studio sets on the GPU from four
camera angles, with a live lighting rig and an LED wall that shows your own
slide. Vision Cutout lays the webcam picture over the studio with the
background removed by a person-segmentation network. It records the screen,
exports 9:16 highlight clips, renders broadcast clips to MP4 and streams the
program live.
.
The package holds the studio window (vantry), the command line (vantry-cli)
and the gallery of game views (vantry-gallery).")
# Binaries go out stripped as dh_strip would; control files get the modes Debian wants.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/PackageStrip.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs link are found by dpkg-shlibdeps. Named here is only what no
# linked library leads to: the fonts the views ask for by path, the QML modules the views
# import, and Mesa's OpenGL / EGL drivers (a GPU driver or the llvmpipe software renderer).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-urw-base35, fonts-inter, fonts-material-design-icons-iconfont, \
qml6-module-qtquick, qml6-module-qtqml, qml6-module-qtqml-models, qml6-module-qtqml-workerscript, \
qml6-module-qtquick-controls, qml6-module-qtquick-templates, qml6-module-qtquick-layouts, \
qml6-module-qtquick-window, qml6-module-qtquick-dialogs, qml6-module-qt-labs-folderlistmodel, \
libgl1-mesa-dri, libegl-mesa0")
# On a Wayland desktop Qt draws its windows through its Wayland plugin, and the screen is
# recorded through the desktop portal's ScreenCast, which hands over a PipeWire stream.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-desktop-portal, pipewire")
include(CPack)
