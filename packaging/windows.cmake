# The Windows installer (NSIS) and a portable zip of the same files: both
# programs in bin/, linked statically, with the printable update barcode
# beside them; the licence and the notices of the code the programs carry
# (packaging/windows/), with Windows line ends, at the top.
foreach(notice ${PROJECT_SOURCE_DIR}/LICENSE
               ${CMAKE_CURRENT_SOURCE_DIR}/windows/THIRD-PARTY-NOTICES.txt)
    get_filename_component(name ${notice} NAME_WE)
    file(READ ${notice} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.txt "${text}")
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.txt DESTINATION .)
endforeach()
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt)

# Signed when a certificate is given (packaging/windows/sign.cmake says how).
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/windows/sign.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/windows/sign.cmake)

set(CPACK_GENERATOR "NSIS;ZIP")
# The values below reach the NSIS script as written.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Qor imager updater")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Qor imager updater")
# Also the Start-menu folder's name, so it stays the same from version to
# version; the version is in the file name and the version resource.
set(CPACK_NSIS_PACKAGE_NAME "Qor imager updater")
set(CPACK_NSIS_DISPLAY_NAME "Qor imager updater")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/res/qor-updater.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/res/qor-updater.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\qor-updater.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)

# Start menu: the window, and a command prompt in the programs' folder for
# qor-flash, which is a console program and would close at once if started
# from a shortcut of its own. CPack adds the uninstaller's entry.
set(CPACK_PACKAGE_EXECUTABLES qor-updater "Qor imager updater")
set(flash_prompt "$SMPROGRAMS\\$STARTMENU_FOLDER\\qor-flash command prompt.lnk")
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "SetOutPath \"$INSTDIR\\bin\"
  CreateShortCut \"${flash_prompt}\" \"$SYSDIR\\cmd.exe\" \"/k qor-flash --help\"")
set(CPACK_NSIS_DELETE_ICONS_EXTRA
    "Delete \"$SMPROGRAMS\\$MUI_TEMP\\qor-flash command prompt.lnk\"")

# A 64-bit installer for 64-bit programs (it needs no 32-bit subsystem); its
# own version resource carries the programs' numbers.
set(CPACK_NSIS_DEFINES
    "Target amd64-unicode
  VIProductVersion ${PROJECT_VERSION}
  VIFileVersion ${PROJECT_VERSION}
  VIAddVersionKey /LANG=1033 ProductName \"Qor imager updater\"
  VIAddVersionKey /LANG=1033 ProductVersion ${PROJECT_VERSION}
  VIAddVersionKey /LANG=1033 FileVersion ${PROJECT_VERSION}
  VIAddVersionKey /LANG=1033 FileDescription \"Qor imager updater setup\"
  VIAddVersionKey /LANG=1033 LegalCopyright \"Copyright 2026 the Qor imager updater developers\"")
