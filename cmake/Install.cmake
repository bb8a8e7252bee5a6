# Installed layout: /opt/lumivex holds the programs with Config.ini and Language/ beside them (the
# program directory the language loader looks in), with links in /usr/local/bin, a .desktop entry
# and an icon. Paths are relative to a prefix of "/", so DESTDIR staging and the .deb agree.
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
  install(FILES ${link_dir}/${program} DESTINATION usr/local/bin)
endforeach()

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
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control panel for LED projection light engines over a serial line")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The shared libraries' packages (Qt, libstdc++) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
