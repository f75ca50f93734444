# The Windows program as it ships (scripts/windows makes all three), in build/<dir>/dist/:
#   windows_dist       airmesh-client-<version>/: airmesh-client.exe with fs-standin.exe and
#                      airmesh-bot.exe, the Qt and MinGW DLLs they load, the Qt plugins, the
#                      sound cues, README.txt and LICENSE.txt; it runs as it stands. Also
#                      airmesh-client-<version>-windows-x64.zip, that folder as the portable copy.
#   windows_installer  airmesh-client-<version>-setup.exe, made by NSIS from that folder
#                      (packaging/windows/installer.nsi); makensis' output is kept in
#                      packaging/windows/makensis.log.
# The steps themselves are in AirmeshWindowsDeploy.cmake.
set(airmesh_win_src ${PROJECT_SOURCE_DIR}/packaging/windows)
set(airmesh_win_gen ${PROJECT_BINARY_DIR}/packaging/windows)
set(AIRMESH_WINDOWS_NAME airmesh-client-${PROJECT_VERSION})
set(AIRMESH_WINDOWS_DIST ${PROJECT_BINARY_DIR}/dist/${AIRMESH_WINDOWS_NAME})
set(AIRMESH_WINDOWS_ZIP ${PROJECT_BINARY_DIR}/dist/${AIRMESH_WINDOWS_NAME}-windows-x64.zip)
set(AIRMESH_WINDOWS_SETUP ${PROJECT_BINARY_DIR}/dist/${AIRMESH_WINDOWS_NAME}-setup.exe)

# A build on Windows itself has no AirmeshWine.cmake to say where Qt and the MinGW runtime are.
if(NOT AIRMESH_QT_PREFIX)
    get_filename_component(AIRMESH_QT_PREFIX "${Qt6_DIR}/../../.." ABSOLUTE)
endif()
if(NOT AIRMESH_MINGW_RUNTIME_DIRS)
    get_filename_component(AIRMESH_MINGW_RUNTIME_DIRS "${CMAKE_CXX_COMPILER}" DIRECTORY)
endif()

# Texts with Windows line ends, for Notepad.
configure_file(${airmesh_win_src}/README.txt.in ${airmesh_win_gen}/README.txt @ONLY NEWLINE_STYLE WIN32)
configure_file(${airmesh_win_src}/LICENSE.txt ${airmesh_win_gen}/LICENSE.txt @ONLY NEWLINE_STYLE WIN32)

find_program(AIRMESH_MAKENSIS makensis)
set(airmesh_sounds ${PROJECT_SOURCE_DIR}/packaging/sounds)
file(GENERATE OUTPUT ${airmesh_win_gen}/settings.cmake CONTENT "\
set(PROGRAMS \"$<TARGET_FILE:airmesh-client>;$<TARGET_FILE:fs-standin>;$<TARGET_FILE:airmesh-bot>\")
set(PLUGINS \"platforms/qwindows.dll;styles/qwindowsvistastyle.dll\")
set(DATA \"${airmesh_sounds}/connected.wav;${airmesh_sounds}/incoming.wav;${airmesh_sounds}/crash.wav;\
${airmesh_win_gen}/README.txt;${airmesh_win_gen}/LICENSE.txt\")
set(QT_PREFIX \"${AIRMESH_QT_PREFIX}\")
set(RUNTIME_DIRS \"${AIRMESH_MINGW_RUNTIME_DIRS}\")
set(OBJDUMP \"${CMAKE_OBJDUMP}\")
set(STRIP \"${CMAKE_STRIP}\")
set(DIST \"${AIRMESH_WINDOWS_DIST}\")
set(ZIP \"${AIRMESH_WINDOWS_ZIP}\")
set(UNINSTALL_LIST \"${airmesh_win_gen}/uninstall-files.nsh\")
set(MAKENSIS \"${AIRMESH_MAKENSIS}\")
set(NSI \"${airmesh_win_src}/installer.nsi\")
set(ICON \"${airmesh_win_src}/airmesh-client.ico\")
set(VERSION \"${PROJECT_VERSION}\")
set(VERSION4 \"${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0\")
set(OUTFILE \"${AIRMESH_WINDOWS_SETUP}\")
set(LOG \"${airmesh_win_gen}/makensis.log\")
")

add_custom_target(windows_dist
    COMMAND ${CMAKE_COMMAND} -DSTEP=dist -DSETTINGS=${airmesh_win_gen}/settings.cmake
            -P ${PROJECT_SOURCE_DIR}/cmake/AirmeshWindowsDeploy.cmake
    DEPENDS airmesh-client fs-standin airmesh-bot
    COMMENT "Deploying ${AIRMESH_WINDOWS_NAME} and its zip"
    VERBATIM)
if(AIRMESH_MAKENSIS)
    add_custom_target(windows_installer
        COMMAND ${CMAKE_COMMAND} -DSTEP=installer -DSETTINGS=${airmesh_win_gen}/settings.cmake
                -P ${PROJECT_SOURCE_DIR}/cmake/AirmeshWindowsDeploy.cmake
        COMMENT "Making ${AIRMESH_WINDOWS_NAME}-setup.exe with NSIS"
        VERBATIM)
    add_dependencies(windows_installer windows_dist)
else()
    add_custom_target(windows_installer
        COMMAND ${CMAKE_COMMAND} -E echo "makensis was not found: install NSIS (apt-get install nsis)"
        COMMAND ${CMAKE_COMMAND} -E false
        VERBATIM)
endif()
