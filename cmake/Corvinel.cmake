# corvinel_library(<name> SOURCES ... [LIBS ...])
# A static library for one subsystem, include root at src/ so headers are "subsystem/File.h".
function(corvinel_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(corvinel_${name} STATIC ${ARG_SOURCES})
    target_include_directories(corvinel_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(corvinel_${name} PUBLIC ${ARG_LIBS})
    target_precompile_headers(corvinel_${name} PRIVATE <QtCore/QString> <QtCore/QObject>
                              <QtCore/QList> <QtCore/QVariant> <functional> <memory> <optional>)
    # The interface registers core types for QML; qmllint and the QML compiler read their
    # properties from these metatypes.
    qt_extract_metatypes(corvinel_${name})
endfunction()

# The private sound servers of the audio tests: fake devices on a socket in the build tree.
# Every test that needs one runs on PulseAudio and, where it is installed, once more on
# PipeWire's PulseAudio server, which most desktops run today.
# Each server only where it is installed (a desktop may have only the one it runs).
find_program(CORVINEL_PULSEAUDIO pulseaudio)
find_program(CORVINEL_PIPEWIRE_PULSE pipewire-pulse)
find_program(CORVINEL_WIREPLUMBER wireplumber)
set(CORVINEL_SOUND_SERVERS)
if(CORVINEL_PULSEAUDIO)
    list(APPEND CORVINEL_SOUND_SERVERS pulseaudio)
else()
    message(STATUS "pulseaudio missing: the audio tests do not run on PulseAudio")
endif()
if(CORVINEL_PIPEWIRE_PULSE AND CORVINEL_WIREPLUMBER)
    list(APPEND CORVINEL_SOUND_SERVERS pipewire)
else()
    message(STATUS "pipewire-pulse or wireplumber missing: the audio tests do not run on PipeWire")
endif()
if(NOT CORVINEL_SOUND_SERVERS)
    message(STATUS "No sound server to test on: the audio tests are left out")
endif()

# The variables that lead a test to the private server of `kind` (pulseaudio or pipewire).
function(corvinel_sound_environment kind out)
    set(dir ${CMAKE_BINARY_DIR}/${kind}-test)
    set(${out}
        "CORVINEL_SOUND_SERVER=${kind}"
        "PULSE_SERVER=unix:${dir}/run/native"
        "PULSE_RUNTIME_PATH=${dir}/run"
        "PULSE_STATE_PATH=${dir}/state"
        "PULSE_COOKIE=${dir}/state/cookie"
        "PULSE_CLIENTCONFIG=${dir}/client.conf"
        PARENT_SCOPE)
endfunction()

# corvinel_pulse_fixture()
# Defines the ctest fixtures "pulse_daemon" and "pipewire_daemon": each server is started
# before the first test that requires it and stopped (by PID) after the last. Call once,
# before the tests that use them.
function(corvinel_pulse_fixture)
    set(script ${CMAKE_SOURCE_DIR}/scripts/pulse-test-daemon)
    foreach(kind ${CORVINEL_SOUND_SERVERS})
        set(prefix ${kind})
        set(fixture ${kind}_daemon)
        if(kind STREQUAL "pulseaudio")
            set(prefix pulse)
            set(fixture pulse_daemon)
        endif()
        set(dir ${CMAKE_BINARY_DIR}/${kind}-test)
        add_test(NAME ${prefix}.daemon_start COMMAND ${script} start ${dir})
        add_test(NAME ${prefix}.daemon_stop COMMAND ${script} stop ${dir})
        set_tests_properties(${prefix}.daemon_start PROPERTIES FIXTURES_SETUP ${fixture}
                             TIMEOUT 30 ENVIRONMENT "CORVINEL_SOUND_SERVER=${kind}")
        set_tests_properties(${prefix}.daemon_stop PROPERTIES FIXTURES_CLEANUP ${fixture}
                             TIMEOUT 30 ENVIRONMENT "CORVINEL_SOUND_SERVER=${kind}")
    endforeach()
endfunction()

# corvinel_test(<name> SOURCES ... [LIBS ...] [FIXTURES ...] [ENVIRONMENT VAR=value ...]
#               [SOUND] [GUI])
# One GoogleTest executable per subsystem; every case becomes a ctest test. With SOUND the
# cases need a sound server: they get the shared private server (fixture "pulse_daemon") and
# the variables that lead to it, and run a second time, named "pipewire.<case>", on the
# PipeWire one where it is installed; the servers a case starts itself are of the same kind.
# With GUI the executable runs a QGuiApplication (offscreen) instead of a core one.
function(corvinel_test name)
    cmake_parse_arguments(ARG "SOUND;GUI" "" "SOURCES;LIBS;FIXTURES;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(ARG_GUI)
        target_link_libraries(${name} PRIVATE corvinel_gui_test_main ${ARG_LIBS})
    else()
        target_link_libraries(${name} PRIVATE corvinel_test_main ${ARG_LIBS})
    endif()
    set(environment "QT_QPA_PLATFORM=offscreen" ${ARG_ENVIRONMENT})
    if(NOT ARG_SOUND)
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120)
        _corvinel_test_properties(${name} ${name}_TESTS "${environment}" "${ARG_FIXTURES}")
        return()
    endif()
    foreach(kind ${CORVINEL_SOUND_SERVERS})
        corvinel_sound_environment(${kind} sound)
        if(kind STREQUAL "pulseaudio")
            set(list ${name}_TESTS)
            gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120)
            set(fixtures ${ARG_FIXTURES} pulse_daemon)
        else()
            set(list ${name}_${kind}_TESTS)
            gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${kind}."
                                 TEST_LIST ${list} PROPERTIES TIMEOUT 120)
            set(fixtures ${ARG_FIXTURES} ${kind}_daemon)
        endif()
        _corvinel_test_properties(${name}_${kind} ${list} "${environment};${sound}" "${fixtures}")
    endforeach()
endfunction()

# The discovery script flattens list-valued properties, so the lists (environment and
# fixtures) are set on the discovered tests by a file of our own that ctest reads after it.
function(_corvinel_test_properties file_name list environment fixtures)
    set(env_file ${CMAKE_CURRENT_BINARY_DIR}/${file_name}_environment.cmake)
    file(WRITE ${env_file}
         "if(${list})\n"
         "  set_tests_properties(\${${list}} PROPERTIES\n"
         "    ENVIRONMENT [==[${environment}]==]\n"
         "    FIXTURES_REQUIRED [==[${fixtures}]==])\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${env_file})
endfunction()
