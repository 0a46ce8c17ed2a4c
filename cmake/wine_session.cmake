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
# first, in a directory that holds or encloses the tests.
function(qor_requires_wine_session)
    foreach(test IN LISTS ARGN)
        set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine_session)
        set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT ${QOR_WINE_ENVIRONMENT})
        set_property(TEST ${test} APPEND PROPERTY LABELS wine)
    endforeach()
endfunction()
