# One wine prefix and one wineserver for a whole ctest run: a set-up test
# starts the server, a clean-up test stops it at the end, and every test that
# runs a Windows program requires both (qor_requires_wine_session), so the
# programs do not each pay wine's start-up and no server outlives the run.
#
# QOR_WINE_PREFIX is shared by the Windows build's own tests and the Linux
# side suites that drive Windows programs (tests/wine), so the prefix is
# created once.
set(QOR_WINE_PREFIX "${PROJECT_SOURCE_DIR}/build/wine-prefix"
    CACHE PATH "Private wine prefix of the test runs")

set(QOR_WINE_ENVIRONMENT
    "WINEPREFIX=${QOR_WINE_PREFIX}" "WINEARCH=win64" "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml=")

function(qor_add_wine_session_fixture)
    get_property(added GLOBAL PROPERTY QOR_WINE_SESSION_FIXTURE)
    if(added)
        return()
    endif()
    set_property(GLOBAL PROPERTY QOR_WINE_SESSION_FIXTURE ON)
    set(script ${PROJECT_SOURCE_DIR}/scripts/wine-session.sh)
    add_test(NAME wine_session_start COMMAND ${script} start)
    add_test(NAME wine_session_stop COMMAND ${script} stop)
    set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine_session)
    set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine_session)
    # A fresh prefix takes ~20 s to create.
    set_tests_properties(wine_session_start wine_session_stop PROPERTIES
        LABELS wine TIMEOUT 300 ENVIRONMENT "${QOR_WINE_ENVIRONMENT}")
endfunction()

# qor_requires_wine_session(<test>...): the tests run Windows programs in the
# private prefix, inside the session. Call qor_add_wine_session_fixture() once
# first, in a directory that holds or encloses the tests. They share the
# prefix's registry (each writes the imagers it needs), so ctest -j runs them
# one at a time.
function(qor_requires_wine_session)
    foreach(test IN LISTS ARGN)
        set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine_session)
        set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK wine_prefix)
        set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT ${QOR_WINE_ENVIRONMENT})
        set_property(TEST ${test} APPEND PROPERTY LABELS wine)
    endforeach()
endfunction()

# Linux side suites that run the Windows build's programs under wine
# (tests/wine, the wine runner of the qor-flash tests). They are registered
# when wine is installed and the Windows build has been configured; the
# sanitizer presets leave them out, since they check the Windows programs.
if(NOT WIN32 AND NOT EMSCRIPTEN)
    option(QOR_WINE_TESTS "Run the Windows build's programs under wine in the tests" ON)
    set(QOR_WINDOWS_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/mingw"
        CACHE PATH "Build directory of the Windows programs the wine suites run")
    find_program(QOR_WINE_PROGRAM wine)
    set(QOR_WITH_WINE_TESTS OFF)
    if(QOR_WINE_TESTS AND QOR_WINE_PROGRAM AND EXISTS ${QOR_WINDOWS_BUILD_DIR}/CMakeCache.txt)
        set(QOR_WITH_WINE_TESTS ON)
    elseif(QOR_WINE_TESTS)
        message(STATUS "wine suites left out: they need wine and the Windows build "
                       "in ${QOR_WINDOWS_BUILD_DIR} (cmake --preset mingw)")
    endif()
endif()
