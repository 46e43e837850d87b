# Installing Corvinel on a Linux desktop: beside the program, the files through which the
# desktop finds it (menu entry, icon, AppStream data for software centres) and the documents
# Debian wants; and CPack settings that turn the same install into a .deb.
include(GNUInstallDirs)

set(CORVINEL_HOMEPAGE_URL "https://corvinel.app"
    CACHE STRING "The project's home page (package and AppStream data)")
set(CORVINEL_SCREENSHOTS_URL "${CORVINEL_HOMEPAGE_URL}/screenshots"
    CACHE STRING "Where the PNGs of docs/screenshots are published (AppStream data)")
set(CORVINEL_MAINTAINER "Corvinel maintainers <maintainers@corvinel.invalid>"
    CACHE STRING "The package maintainer, as 'Name <address>'")
set(CORVINEL_DEVELOPER_NAME "Brisendo")
set(CORVINEL_DEVELOPER_ID "com.brisendo")

set(packaging_source ${CMAKE_SOURCE_DIR}/packaging)
set(packaging_binary ${CMAKE_BINARY_DIR}/packaging)

# The changelog's newest entry is the one place a release is written down: its version must
# be the project's, and its date is the release date the software centres show.
file(STRINGS ${packaging_source}/changelog.in changelog_lines)
list(GET changelog_lines 0 changelog_head)
if(NOT changelog_head MATCHES "^corvinel \\(([^)]+)\\)")
    message(FATAL_ERROR "packaging/changelog.in: the first line names no version")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "packaging/changelog.in: newest entry is ${CMAKE_MATCH_1}, the "
                        "project is ${PROJECT_VERSION}; add an entry for this version")
endif()
foreach(line ${changelog_lines})
    if(line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
        set(day ${CMAKE_MATCH_1})
        set(year ${CMAKE_MATCH_3})
        set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
        list(FIND months ${CMAKE_MATCH_2} month)
        math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
        if(month LESS 10)
            set(month 0${month})
        endif()
        set(CORVINEL_RELEASE_DATE ${year}-${month}-${day})
        break()
    endif()
endforeach()
if(NOT CORVINEL_RELEASE_DATE)
    message(FATAL_ERROR "packaging/changelog.in: the newest entry has no trailer line with a date")
endif()

configure_file(${packaging_source}/corvinel.desktop.in
               ${packaging_binary}/${CORVINEL_APP_ID}.desktop @ONLY)
configure_file(${packaging_source}/corvinel.metainfo.xml.in
               ${packaging_binary}/${CORVINEL_APP_ID}.metainfo.xml @ONLY)
configure_file(${packaging_source}/copyright.in ${packaging_binary}/copyright @ONLY)
configure_file(${packaging_source}/changelog.in ${packaging_binary}/changelog @ONLY)
configure_file(${packaging_source}/corvinel.1 ${packaging_binary}/corvinel.1 @ONLY)
# Debian keeps changelogs and manuals compressed, without a time stamp so the package is
# reproducible.
foreach(file changelog corvinel.1)
    execute_process(COMMAND gzip -9nc ${packaging_binary}/${file}
                    OUTPUT_FILE ${packaging_binary}/${file}.gz COMMAND_ERROR_IS_FATAL ANY)
endforeach()

set(docdir ${CMAKE_INSTALL_DATADIR}/doc/corvinel)
install(FILES ${packaging_binary}/${CORVINEL_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_binary}/${CORVINEL_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging_source}/${CORVINEL_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# For menus and docks that draw no SVG; rendered from the SVG by rsvg-convert when it changes.
install(FILES ${packaging_source}/${CORVINEL_APP_ID}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
install(FILES ${packaging_binary}/corvinel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${packaging_binary}/copyright
              ${packaging_binary}/changelog.gz
        DESTINATION ${docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvinel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ${CORVINEL_DEVELOPER_NAME})
set(CPACK_PACKAGE_CONTACT ${CORVINEL_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live interview assistant for the desktop")
# CPack puts the summary above this as the package's synopsis.
set(CPACK_PACKAGE_DESCRIPTION
    "While a call runs in another application, Corvinel listens to what the
computer plays, streams the other side to the OpenAI Realtime API and shows
each question with a short answer drafted from your resume, the job and the
panel, in a small window beside the call. It times your own answers, can
transcribe them on this computer, and keeps a recording, a transcript and an
event log of each session. An OpenAI API key is needed for the answers.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${CORVINEL_HOMEPAGE_URL})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The shared libraries come from dpkg-shlibdeps. What it cannot see: the QML modules the
# window loads at run time (each a package of its own in Debian; Dialogs' file dialog
# crashes without the folder list model) and the speech model read from /usr/share.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(corvinel_runtime_packages
    qml6-module-qtqml
    qml6-module-qtqml-workerscript
    qml6-module-qtquick
    qml6-module-qtquick-controls
    qml6-module-qtquick-templates
    qml6-module-qtquick-window
    qml6-module-qtquick-layouts
    qml6-module-qtquick-dialogs
    qml6-module-qt-labs-folderlistmodel
    pocketsphinx-en-us)
list(JOIN corvinel_runtime_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# Without an emoji font the window's symbols render as boxes; without the Wayland plugin
# only --wayland fails.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-color-emoji")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland, pavucontrol")
include(CPack)
