# corvinel_library(<name> SOURCES ... [LIBS ...])
# A static library for one subsystem, include root at src/ so headers are "subsystem/File.h".
function(corvinel_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(corvinel_${name} STATIC ${ARG_SOURCES})
    target_include_directories(corvinel_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(corvinel_${name} PUBLIC ${ARG_LIBS})
    target_precompile_headers(corvinel_${name} PRIVATE <QtCore/QString> <QtCore/QObject>
                              <QtCore/QList> <QtCore/QVariant> <functional> <memory> <optional>)
endfunction()

# The private PulseAudio daemon of the audio tests: fake devices on a socket in the build tree.
set(CORVINEL_PULSE_DIR ${CMAKE_BINARY_DIR}/pulse-test)
set(CORVINEL_PULSE_ENVIRONMENT
    "PULSE_SERVER=unix:${CORVINEL_PULSE_DIR}/run/native"
    "PULSE_RUNTIME_PATH=${CORVINEL_PULSE_DIR}/run"
    "PULSE_STATE_PATH=${CORVINEL_PULSE_DIR}/state"
    "PULSE_COOKIE=${CORVINEL_PULSE_DIR}/state/cookie"
    "PULSE_CLIENTCONFIG=${CORVINEL_PULSE_DIR}/client.conf")

# corvinel_pulse_fixture()
# Defines the ctest fixture "pulse_daemon": started before the first test that requires it,
# stopped (by PID) after the last. Call once, before the tests that use it.
function(corvinel_pulse_fixture)
    set(script ${CMAKE_SOURCE_DIR}/scripts/pulse-test-daemon)
    add_test(NAME pulse.daemon_start COMMAND ${script} start ${CORVINEL_PULSE_DIR})
    add_test(NAME pulse.daemon_stop COMMAND ${script} stop ${CORVINEL_PULSE_DIR})
    set_tests_properties(pulse.daemon_start PROPERTIES FIXTURES_SETUP pulse_daemon TIMEOUT 30)
    set_tests_properties(pulse.daemon_stop PROPERTIES FIXTURES_CLEANUP pulse_daemon TIMEOUT 30)
endfunction()

# corvinel_test(<name> SOURCES ... [LIBS ...] [FIXTURES ...] [ENVIRONMENT VAR=value ...])
# One GoogleTest executable per subsystem; every case becomes a ctest test. Tests that require
# the fixture "pulse_daemon" get the PULSE_* variables that lead to the private daemon.
function(corvinel_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;FIXTURES;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE corvinel_test_support ${ARG_LIBS})
    set(environment "QT_QPA_PLATFORM=offscreen" ${ARG_ENVIRONMENT})
    if("pulse_daemon" IN_LIST ARG_FIXTURES)
        list(APPEND environment ${CORVINEL_PULSE_ENVIRONMENT})
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120)
    # The discovery script flattens list-valued properties, so the lists (environment and
    # fixtures) are set on the discovered tests by a file of our own that ctest reads after it.
    set(env_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
    file(WRITE ${env_file}
         "if(${name}_TESTS)\n"
         "  set_tests_properties(\${${name}_TESTS} PROPERTIES\n"
         "    ENVIRONMENT [==[${environment}]==]\n"
         "    FIXTURES_REQUIRED [==[${ARG_FIXTURES}]==])\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${env_file})
endfunction()
