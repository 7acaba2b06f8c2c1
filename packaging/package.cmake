# SPDX-License-Identifier: MIT
# `cpack -G DEB` in the build folder makes a Debian package of both programs,
# their manual pages, the README and the copyright file.
set(OUTLINE_PACKAGE outline-converters)
set(OUTLINE_MAINTAINER "Outline converters maintainers <maintainers@users.noreply.c-seed-c9bddbe5.example>"
    CACHE STRING "Maintainer field of the Debian package")

# The value paired with `key` in `pairs` (KEY=VALUE words), or empty.
function(paired_value key pairs out)
  set(value)
  foreach(pair IN LISTS pairs)
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 pair_key)
    if(pair_key STREQUAL key)
      list(GET pair 1 value)
    endif()
  endforeach()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# The Debian name of the target architecture (a cross build packages for its
# target, not for the machine that builds it).
paired_value("${CMAKE_SYSTEM_PROCESSOR}"
             "x86_64=amd64;amd64=amd64;aarch64=arm64;arm64=arm64;i386=i386;i486=i386;i586=i386;i686=i386;s390x=s390x;ppc64le=ppc64el;riscv64=riscv64"
             debian_architecture)
set(OUTLINE_DEBIAN_ARCHITECTURE "${debian_architecture}"
    CACHE STRING "Architecture field of the Debian package (empty: as dpkg says)")

# The RPM's architecture, by the Debian one.
paired_value("${OUTLINE_DEBIAN_ARCHITECTURE}"
             "amd64=x86_64;arm64=aarch64;armel=armv5tel;armhf=armv7hl;i386=i686;mips64el=mips64el;mipsel=mipsel;ppc64el=ppc64le;riscv64=riscv64;s390x=s390x"
             CPACK_RPM_PACKAGE_ARCHITECTURE)

set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${OUTLINE_PACKAGE})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${doc_dir})
# The package's changelog is made from NEWS.md, in Debian's format, and
# compressed without a name or time stamp.
set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian-changelog
                   COMMAND ${CMAKE_COMMAND} -DNEWS=${PROJECT_SOURCE_DIR}/NEWS.md
                           -DOUTPUT=${PROJECT_BINARY_DIR}/debian-changelog -DPACKAGE=${OUTLINE_PACKAGE}
                           "-DMAINTAINER=${OUTLINE_MAINTAINER}"
                           -P ${PROJECT_SOURCE_DIR}/packaging/changelog.cmake
                   DEPENDS ${PROJECT_SOURCE_DIR}/NEWS.md ${PROJECT_SOURCE_DIR}/packaging/changelog.cmake
                   COMMENT "Making the package's changelog from NEWS.md" VERBATIM)
add_custom_command(OUTPUT ${changelog}
                   COMMAND ${GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/debian-changelog > ${changelog}
                   DEPENDS ${PROJECT_BINARY_DIR}/debian-changelog)
add_custom_target(package_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${doc_dir})
# The programs are static by design: one file that runs on any Linux of the
# architecture. lintian asks for dynamic linking; the override says why not.
# It goes into the .deb alone (packaging/cpack-options.cmake).
set(CPACK_OUTLINE_LINTIAN_OVERRIDES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides)
set(CPACK_OUTLINE_LINTIAN_FOLDER ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides)

set(CPACK_PACKAGE_NAME ${OUTLINE_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${OUTLINE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converters between tab-indented outlines and vrex outline files")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tab2vrex reads an outline written one item per line, nested by leading
TAB characters, and writes it as a vrex outline file: one NOTE, NODE, DONE
or STOP record per line. vrex2tab converts the other way. Both stream in
constant memory, keep every byte of the item text, accept LF, CR and CR LF
line ends, and stop with a numbered error report and exit status on any
input or output failure.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OUTLINE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Stripped, as Debian ships programs, with the debug information in a debug
# package of its own (-dbgsym, found by build ID under /usr/lib/debug), which
# cpack splits off with the build's own objcopy and readelf, that know its
# target. Code addresses, and so report locations, are those of the
# unstripped programs in the build folder. The RPM's programs are stripped
# (packaging/cpack-options.cmake); the tarball's .debug files serve them too.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_OBJCOPY_EXECUTABLE ${CMAKE_OBJCOPY})
set(CPACK_READELF_EXECUTABLE ${CMAKE_READELF})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-options.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/debug-package.cmake)
if(OUTLINE_DEBIAN_ARCHITECTURE)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${OUTLINE_DEBIAN_ARCHITECTURE})
endif()
# The programs are static: they need no other package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
# `cpack -G RPM` (Debian's rpm package) makes the same package for RPM systems.
set(CPACK_PACKAGE_VENDOR "The outline-converters authors")
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP "Applications/Text")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_PACKAGE_AUTOREQ OFF)
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1 /usr/share/man/man5)
# The same bytes from the same commit: times from SOURCE_DATE_EPOCH, no host name.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${OUTLINE_MAINTAINER}
%define _buildhost reproducible
%define _build_id_links none
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1")
set(CPACK_GENERATOR DEB)
include(CPack)
