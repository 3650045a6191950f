# The Debian package varnkit_<version>_<arch>.deb (`make package`): the
# installed tree under /usr/lib/varnkit, links in /usr/bin, and what a desktop
# needs around it (menu entry, icons, AppStream data, manual pages, completion,
# copyright and changelog). The desktop files form the component "system",
# which only the package installs: `make install PREFIX=...` leaves the
# system's folders alone.
if(VARNU_FUZZ OR NOT VARNU_SHELL OR NOT VARNU_TOOLS)
  return()
endif()

find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(GZIP gzip REQUIRED)

set(VARNKIT_LIB_DIR /usr/lib/varnkit)
set(pkg_src ${CMAKE_CURRENT_LIST_DIR})
set(pkg_out ${CMAKE_BINARY_DIR}/packaging)
set(pkg_outputs)

function(varnkit_system_files destination)
  install(FILES ${ARGN} DESTINATION ${destination} COMPONENT system EXCLUDE_FROM_ALL)
endfunction()

# The application icon in the hicolor sizes, drawn from the page's own SVG.
set(icon_svg ${CMAKE_SOURCE_DIR}/http/content/icon.svg)
foreach(size 16 22 24 32 48 64 128 256)
  set(png ${pkg_out}/icons/${size}x${size}/varnkit.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_out}/icons/${size}x${size}
    COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${icon_svg}
    DEPENDS ${icon_svg}
    COMMENT "Drawing the ${size}x${size} icon")
  list(APPEND pkg_outputs ${png})
  varnkit_system_files(/usr/share/icons/hicolor/${size}x${size}/apps ${png})
endforeach()
install(FILES ${icon_svg} DESTINATION /usr/share/icons/hicolor/scalable/apps RENAME varnkit.svg
  COMPONENT system EXCLUDE_FROM_ALL)

# Debian keeps manual pages and long documents gzip-compressed, without time stamps.
function(varnkit_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${GZIP} -9nc ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}")
  set(pkg_outputs ${pkg_outputs} ${output} PARENT_SCOPE)
endfunction()

foreach(page varnu-cli.1 varnu-site.1 varnkit.1)
  configure_file(${pkg_src}/man/${page}.in ${pkg_out}/man/${page} @ONLY)
  varnkit_gzip(${pkg_out}/man/${page} ${pkg_out}/man/${page}.gz)
  varnkit_system_files(/usr/share/man/man1 ${pkg_out}/man/${page}.gz)
endforeach()

set(doc_dir /usr/share/doc/varnkit)
varnkit_gzip(${pkg_src}/changelog ${pkg_out}/changelog.gz)
varnkit_gzip(${CMAKE_SOURCE_DIR}/README.md ${pkg_out}/README.md.gz)
varnkit_system_files(${doc_dir} ${pkg_src}/copyright ${pkg_out}/changelog.gz ${pkg_out}/README.md.gz)
varnkit_system_files(${doc_dir}/examples
  ${CMAKE_SOURCE_DIR}/examples/channel.csv ${CMAKE_SOURCE_DIR}/examples/groups.csv
  ${CMAKE_SOURCE_DIR}/examples/inputs.csv ${CMAKE_SOURCE_DIR}/examples/site.csv)

varnkit_system_files(/usr/share/applications ${pkg_src}/varnkit.desktop)
varnkit_system_files(/usr/share/metainfo ${pkg_src}/varnkit.metainfo.xml)
install(FILES ${pkg_src}/varnu-cli.bash-completion DESTINATION /usr/share/bash-completion/completions
  RENAME varnu-cli COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${pkg_src}/varnu-site.bash-completion DESTINATION /usr/share/bash-completion/completions
  RENAME varnu-site COMPONENT system EXCLUDE_FROM_ALL)
# Nightly site backups: user units, enabled by each user per site file (README).
varnkit_system_files(/usr/lib/systemd/user ${pkg_src}/systemd/varnu-site-backup@.service
  ${pkg_src}/systemd/varnu-site-backup@.timer)

# /usr/bin holds relative links: the shell finds cli/ and http/ beside the
# file the link points to.
file(MAKE_DIRECTORY ${pkg_out}/bin)
foreach(program varnkit cli/varnu-cli cli/varnu-site)
  get_filename_component(name ${program} NAME)
  file(CREATE_LINK ../lib/varnkit/${program} ${pkg_out}/bin/${name} SYMBOLIC)
  varnkit_system_files(/usr/bin ${pkg_out}/bin/${name})
endforeach()

add_custom_target(varnkit-package-files ALL DEPENDS ${pkg_outputs})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnkit)
set(CPACK_PACKAGE_VENDOR KORVANE)
set(CPACK_PACKAGE_CONTACT "varnkit developers <varnkit@korvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration kit for LUMARO DALI lighting gateways")
# The extended description; CPack puts the summary in front.
file(READ ${pkg_src}/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
# Absolute destinations of the system component land in the package root, the
# rest under /usr/lib/varnkit.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${VARNKIT_LIB_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX ${VARNKIT_LIB_DIR})
set(CPACK_STRIP_FILES ON)
# One package from both components.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified system)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads the SVG icon engine as a plug-in, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
include(CPack)

# Builds, lints, installs, uses and purges the package: on CI only (see the script).
if(NOT DEFINED BUILD_TESTING OR BUILD_TESTING)
  varnu_pytest(package_test packaging/package_test.py LABELS package TIMEOUT 900)
  set_tests_properties(package_test PROPERTIES SKIP_RETURN_CODE 77)
  set_property(TEST package_test APPEND PROPERTY ENVIRONMENT VARNU_CPACK=${CMAKE_CPACK_COMMAND})
endif()
