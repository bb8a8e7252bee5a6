# Installed layout: /opt/lumivex holds the programs with Config.ini and Language/ beside them (the
# program directory the language loader looks in), with links in /usr/local/bin for
# `cmake --install` and in /usr/bin for the .deb (a package never touches /usr/local, which
# belongs to the local administrator), a .desktop entry, an icon and manual pages. Paths are
# relative to a prefix of "/", so DESTDIR staging and the .deb agree.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Install prefix" FORCE)
endif()
set(LUMIVEX_INSTALL_DIR opt/lumivex)
set(lumivex_programs)
foreach(program lumivex lumivexctl lumivex-boardsim)
  if(TARGET ${program})
    list(APPEND lumivex_programs ${program})
  endif()
endforeach()

install(TARGETS ${lumivex_programs} RUNTIME DESTINATION ${LUMIVEX_INSTALL_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/Config.ini DESTINATION ${LUMIVEX_INSTALL_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/Language DESTINATION ${LUMIVEX_INSTALL_DIR}
        FILES_MATCHING PATTERN "*.lang")

set(link_dir ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${link_dir})
foreach(program ${lumivex_programs})
  file(CREATE_LINK /${LUMIVEX_INSTALL_DIR}/${program} ${link_dir}/${program} SYMBOLIC)
  # A plain install takes the first, the package (which installs its components by name) the
  # second.
  install(FILES ${link_dir}/${program} DESTINATION usr/local/bin COMPONENT local_links)
  install(FILES ${link_dir}/${program} DESTINATION usr/bin COMPONENT package_links
          EXCLUDE_FROM_ALL)
endforeach()

# Manual pages and the package's changelog, compressed as Debian wants them: best compression,
# no name or time stamp in the header, so the same sources give the same bytes.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(doc_dir ${CMAKE_BINARY_DIR}/install-docs)
set(compressed_docs)
foreach(program ${lumivex_programs})
  set(page ${PROJECT_SOURCE_DIR}/resources/man/${program}.1)
  add_custom_command(OUTPUT ${doc_dir}/${program}.1.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${doc_dir}
                     COMMAND ${GZIP_PROGRAM} -9n -c ${page} > ${doc_dir}/${program}.1.gz
                     DEPENDS ${page} VERBATIM)
  list(APPEND compressed_docs ${doc_dir}/${program}.1.gz)
  install(FILES ${doc_dir}/${program}.1.gz DESTINATION usr/share/man/man1)
endforeach()
set(changelog ${PROJECT_SOURCE_DIR}/resources/debian/changelog)
add_custom_command(OUTPUT ${doc_dir}/changelog.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${doc_dir}
                   COMMAND ${GZIP_PROGRAM} -9n -c ${changelog} > ${doc_dir}/changelog.gz
                   DEPENDS ${changelog} VERBATIM)
list(APPEND compressed_docs ${doc_dir}/changelog.gz)
add_custom_target(lumivex_install_docs ALL DEPENDS ${compressed_docs})
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${doc_dir}/changelog.gz
        DESTINATION usr/share/doc/lumivex)

if(TARGET lumivex)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/lumivex.desktop DESTINATION usr/share/applications)
  if(EXISTS ${PROJECT_SOURCE_DIR}/resources/lumivex.svg)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/lumivex.svg
            DESTINATION usr/share/icons/hicolor/scalable/apps)
  endif()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumivex)
set(CPACK_PACKAGE_VENDOR "Lumivex")
set(CPACK_PACKAGE_CONTACT "Lumivex developers <dev@lumivex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for LED projection light engines")
# The extended description, under the summary; CPack indents it and marks the empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Lumivex drives an LED projector board with a display scaler over a serial
line: it switches the light source, sets and reads the drive current of each
colour channel, chooses the lit colours, switches the video input between
HDMI and VGA, reads the LED and board temperatures, mirrors the image and
starts the board's firmware upgrade from its USB disk.

The package holds the panel (lumivex), a command-line tool for scripts and
factory lines (lumivexctl) and a simulated board on a pseudo-terminal
(lumivex-boardsim).")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://lumivex.invalid/")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The shared libraries' packages (Qt, libstdc++) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Chinese panel needs a CJK font and Qt's own translations (its standard buttons); a
# headless install of lumivexctl needs neither, so they are recommended, not required.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# One package of everything but the /usr/local links.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified package_links)
include(CPack)
