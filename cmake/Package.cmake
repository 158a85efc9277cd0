# What `cmake --install` puts in place for the command-line tool, and the
# Debian package CPack makes of it. Packages are per install component: a
# component that ships as a package of its own is added to
# CPACK_COMPONENTS_ALL here, with its CPACK_DEBIAN_<COMPONENT>_* settings.
include(GNUInstallDirs)

install(TARGETS glyphmosaic RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)

# Debian keeps a package's licence as /usr/share/doc/<package>/copyright.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE gm_license)
file(WRITE ${PROJECT_BINARY_DIR}/copyright
  "${PROJECT_NAME} ${PROJECT_VERSION}\n${GM_PROJECT_URL}\n\n${gm_license}")
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/glyphmosaic COMPONENT tool)

set(CPACK_PACKAGE_NAME glyphmosaic)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the GlyphMosaic developers")
set(CPACK_PACKAGE_CONTACT "${GM_COMPANY_NAME} <developers@${GM_SITE_HOST}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "redraws images as text art")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${GM_PROJECT_URL})
# Library dependencies as dpkg-shlibdeps finds them in the binary.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack would name the build machine's architecture; a cross build names its
# target's (scripts/release sets DEB_HOST_ARCH to match, for dpkg-shlibdeps).
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME glyphmosaic)
set(CPACK_DEBIAN_TOOL_FILE_NAME DEB-DEFAULT)
# The summary line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
set(CPACK_COMPONENT_TOOL_DESCRIPTION "glyphmosaic runs the GlyphMosaic filter plug-in on PNG, JPEG, TIFF, WebP, GIF,
HEIC, AVIF and JPEG XL files:
it thresholds the image, cuts it into 8 x 12 cells and redraws each cell
with the printable ASCII character that matches it best, as an image and,
if asked, as plain text.")

# The GIMP plug-in is a package of its own, so that the tool's does not pull
# in GIMP; its install rule is in gimp/.
if(TARGET gm_gimp_plugin)
  install(FILES ${PROJECT_BINARY_DIR}/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/gimp-plugin-glyphmosaic COMPONENT gimp)
  list(APPEND CPACK_COMPONENTS_ALL gimp)
  set(CPACK_DEBIAN_GIMP_PACKAGE_NAME gimp-plugin-glyphmosaic)
  set(CPACK_DEBIAN_GIMP_FILE_NAME DEB-DEFAULT)
  # The libraries come from dpkg-shlibdeps; GIMP itself is what runs the plug-in.
  set(CPACK_DEBIAN_GIMP_PACKAGE_DEPENDS "gimp (>= 2.10)")
  set(CPACK_COMPONENT_GIMP_DESCRIPTION "The GlyphMosaic filter for GIMP 2.10, as Filters > Artistic > GlyphMosaic:
it thresholds the selection or the layer, cuts it into 8 x 12 cells and
redraws each cell with the printable ASCII character that matches it best.")
endif()

include(CPack)
