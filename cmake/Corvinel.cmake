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

# corvinel_test(<name> SOURCES ... [LIBS ...] [FIXTURES ...])
# One GoogleTest executable per subsystem; every case becomes a ctest test.
function(corvinel_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;FIXTURES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE corvinel_test_support ${ARG_LIBS})
    set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
    if(ARG_FIXTURES)
        list(APPEND props FIXTURES_REQUIRED "${ARG_FIXTURES}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()
