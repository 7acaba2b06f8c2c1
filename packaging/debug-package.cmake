# SPDX-License-Identifier: MIT
# Run by cpack once the packages are made (CPACK_POST_BUILD_SCRIPTS): makes the
# debug package beside the .deb as Debian makes one: md5sums naming each file
# by its path in the package (CMake 3.25 names it by its path in the build
# folder), the debug files not executable, and the documentation folder a link
# to that of the package it depends on, with its copyright and changelog.
set(folders)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(folder "${package}" DIRECTORY)
  list(APPEND folders "${folder}")
endforeach()
list(REMOVE_DUPLICATES folders)
foreach(folder IN LISTS folders)
  file(GLOB ddebs "${folder}/*.ddeb")
  foreach(ddeb IN LISTS ddebs)
    set(tree "${folder}/ddeb-tree")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND dpkg-deb --raw-extract "${ddeb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB_RECURSE files RELATIVE "${tree}" "${tree}/usr/*")
    list(SORT files)
    set(md5sums "")
    foreach(name IN LISTS files)
      file(MD5 "${tree}/${name}" sum)
      string(APPEND md5sums "${sum}  ${name}\n")
      file(CHMOD "${tree}/${name}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endforeach()
    file(WRITE "${tree}/DEBIAN/md5sums" "${md5sums}")
    file(MAKE_DIRECTORY "${tree}/usr/share/doc")
    file(CREATE_LINK "${CPACK_PACKAGE_NAME}" "${tree}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym"
         SYMBOLIC)
    # The same bytes from the same commit: every time the commit's.
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
      execute_process(COMMAND find "${tree}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
    execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${ddeb}"
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${tree}")
  endforeach()
endforeach()
