# The Debian package: its extra files, install rules and control fields.
include(GNUInstallDirs)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/linux/${QOR_UDEV_RULE_NAME}
        DESTINATION ${QOR_UDEV_RULES_DIR})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/copyright DESTINATION ${doc_dir})

# Debian keeps manual pages and changelogs compressed, without the name and
# time stamp that would make each build's bytes differ.
set(man_pages man/qor-flash.1 man/qor-imager-sim.1)
if(QOR_BUILD_QT)
    list(APPEND man_pages man/qor-updater.1)
endif()
set(compressed)
foreach(source ${man_pages} linux/changelog)
    get_filename_component(name ${source} NAME)
    set(gz ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
    add_custom_command(OUTPUT ${gz}
        COMMAND gzip -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/${source} > ${gz}
        DEPENDS ${source} VERBATIM)
    list(APPEND compressed ${gz})
endforeach()
add_custom_target(qor_packaging_docs ALL DEPENDS ${compressed})
list(POP_BACK compressed changelog)
install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${changelog} DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from what the programs link (dpkg-shlibdeps); Qt's
# platform plugins are loaded at run time, which no link shows.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(QOR_BUILD_QT)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/linux/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/linux/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
