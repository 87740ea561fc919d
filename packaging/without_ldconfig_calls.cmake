# Run by cpack once it has made the package (CPACK_POST_BUILD_SCRIPTS).
#
# CPack adds postinst and postrm scripts that run ldconfig whenever a package has shared objects
# anywhere under /usr/lib, ours too, though the modules live in a folder of the programs' own that
# the dynamic linker's cache never covers. Those two scripts, and only those, are taken out again
# and the package is put back together with dpkg-deb, so it carries no maintainer scripts at all.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${tree}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${package}: dpkg-deb could not unpack it")
  endif()
  foreach(script postinst postrm)
    set(file "${tree}/DEBIAN/${script}")
    if(EXISTS "${file}")
      file(READ "${file}" text)
      # Only a script that does nothing but call ldconfig goes.
      string(REGEX REPLACE "#!/bin/sh|set -e|if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then|ldconfig|fi|[ \t\n]" "" rest "${text}")
      if(rest STREQUAL "")
        file(REMOVE "${file}")
      endif()
    endif()
  endforeach()
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${package}"
                  OUTPUT_QUIET RESULT_VARIABLE failed)
  file(REMOVE_RECURSE "${tree}")
  if(failed)
    message(FATAL_ERROR "${package}: dpkg-deb could not build it again")
  endif()
endforeach()
