# Signs the Windows programs and the installer with osslsigncode, when a
# code-signing certificate is given in the environment:
#
#   QOR_SIGN_PKCS12     the certificate and its private key, a PKCS#12 file
#                       (.p12, .pfx); without it nothing is signed
#   QOR_SIGN_PASSWORD   the file's password
#   QOR_SIGN_TIMESTAMP  a timestamp server (RFC 3161) to countersign with, so
#                       that a signature outlives its certificate; optional
#
# CPack runs this script twice per package: before packing, on the staged
# files (the programs, stripped by then, so that the stripping does not break
# their signatures), and after, on the packages it made (the installer).
set(certificate "$ENV{QOR_SIGN_PKCS12}")
if(certificate STREQUAL "")
    return()
endif()
if(NOT EXISTS "${certificate}")
    message(FATAL_ERROR "QOR_SIGN_PKCS12 names ${certificate}, which is not there")
endif()
find_program(osslsigncode osslsigncode)
if(NOT osslsigncode)
    message(FATAL_ERROR "signing needs osslsigncode (apt-get install osslsigncode)")
endif()

if(CPACK_PACKAGE_FILES)
    set(files ${CPACK_PACKAGE_FILES})
    list(FILTER files INCLUDE REGEX "\\.exe$")
else()
    file(GLOB_RECURSE files "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe")
endif()

# The password goes through a file of the user's own, not the command line,
# where every process could read it.
set(password_file "${CPACK_TOPLEVEL_DIRECTORY}/sign-password")
file(WRITE "${password_file}" "$ENV{QOR_SIGN_PASSWORD}")
file(CHMOD "${password_file}" PERMISSIONS OWNER_READ OWNER_WRITE)
set(timestamp)
if(NOT "$ENV{QOR_SIGN_TIMESTAMP}" STREQUAL "")
    set(timestamp -ts "$ENV{QOR_SIGN_TIMESTAMP}")
endif()

foreach(file IN LISTS files)
    execute_process(
        COMMAND "${osslsigncode}" sign -pkcs12 "${certificate}" -readpass "${password_file}"
                -n "Qor imager updater" -h sha256 ${timestamp} -in "${file}" -out "${file}.signed"
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        file(REMOVE "${password_file}" "${file}.signed")
        message(FATAL_ERROR "osslsigncode could not sign ${file}:\n${output}")
    endif()
    file(RENAME "${file}.signed" "${file}")
    message(STATUS "signed ${file}")
endforeach()
file(REMOVE "${password_file}")
