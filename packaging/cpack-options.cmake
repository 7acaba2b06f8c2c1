# SPDX-License-Identifier: MIT
# Read by cpack for each generator. The .deb's programs are stripped as their
# debug package is split off; the RPM's, which has none, are stripped here.
if(CPACK_GENERATOR STREQUAL "RPM")
  set(CPACK_STRIP_FILES ON)
endif()
