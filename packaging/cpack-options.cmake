# SPDX-License-Identifier: MIT
# Read by cpack for each generator. The .deb's programs are stripped as their
# debug package is split off; the RPM's, which has none, are stripped here.
# The lintian override, a Debian packaging file, goes into the .deb alone.
if(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_STRIP_FILES ON)
endif()
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/lintian-override.cmake)
endif()
