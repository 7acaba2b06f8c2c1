# SPDX-License-Identifier: MIT
# Run by cpack as it installs the .deb's files (CPACK_INSTALL_SCRIPTS): the
# lintian override, named after the package.
file(INSTALL ${CPACK_OUTLINE_LINTIAN_OVERRIDES}
     DESTINATION ${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_OUTLINE_LINTIAN_FOLDER}
     RENAME ${CPACK_PACKAGE_NAME})
