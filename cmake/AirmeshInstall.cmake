# `cmake --install` rules and the Debian packages (CPack), in two components:
#   client  airmesh-client: the program, its desktop entry, icons, AppStream data, sound cues
#   server  airmesh-server: the server with airmesh-bot and fs-standin, a systemd service
#           (disabled until the operator enables it) and its files in /etc/airmesh
# scripts/package builds the .debs; tests/package checks them.
include(GNUInstallDirs)

set(AIRMESH_APP_ID example.airmesh.Client)
set(AIRMESH_MAINTAINER "Norvane <support@airmesh.example>")
set(AIRMESH_RELEASE_DATE 2026-12-07)
set(AIRMESH_RELEASE_RFC2822 "Mon, 07 Dec 2026 12:00:00 +0000")

set(airmesh_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(airmesh_gen ${PROJECT_BINARY_DIR}/packaging)

# The texts that name the version, and the man pages and changelog compressed as Debian wants
# them (gzip -9n: no name or time stamp, so a rebuild gives the same bytes).
configure_file(${airmesh_pkg}/${AIRMESH_APP_ID}.metainfo.xml.in ${airmesh_gen}/${AIRMESH_APP_ID}.metainfo.xml @ONLY)
configure_file(${airmesh_pkg}/changelog.in ${airmesh_gen}/changelog @ONLY)
set(airmesh_compressed)
configure_file(${PROJECT_SOURCE_DIR}/docs/flying-fs-under-wine.md ${airmesh_gen}/flying-fs-under-wine.md COPYONLY)
foreach(text man/airmesh-client.1 man/airmesh-server.1 man/airmesh-bot.1 man/fs-standin.1 changelog
             flying-fs-under-wine.md)
    get_filename_component(name ${text} NAME)
    if(text MATCHES "^man/")
        configure_file(${airmesh_pkg}/${text} ${airmesh_gen}/${name} @ONLY)
    endif()
    add_custom_command(OUTPUT ${airmesh_gen}/${name}.gz
                       COMMAND gzip -9nkf ${airmesh_gen}/${name}
                       DEPENDS ${airmesh_gen}/${name}
                       VERBATIM)
    list(APPEND airmesh_compressed ${airmesh_gen}/${name}.gz)
endforeach()
add_custom_target(airmesh_packaging_texts ALL DEPENDS ${airmesh_compressed})

# ---- client
install(TARGETS airmesh-client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
install(FILES ${airmesh_pkg}/${AIRMESH_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT client)
install(FILES ${airmesh_gen}/${AIRMESH_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT client)
install(DIRECTORY ${airmesh_pkg}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons COMPONENT client)
# The client finds these through its own place: <prefix>/bin/../share/airmesh/sounds.
install(FILES ${airmesh_pkg}/sounds/connected.wav ${airmesh_pkg}/sounds/incoming.wav
              ${airmesh_pkg}/sounds/crash.wav
        DESTINATION ${CMAKE_INSTALL_DATADIR}/airmesh/sounds COMPONENT client)
install(FILES ${airmesh_gen}/airmesh-client.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT client)
install(FILES ${airmesh_pkg}/copyright ${airmesh_gen}/changelog.gz ${airmesh_gen}/flying-fs-under-wine.md.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/airmesh-client COMPONENT client)

# ---- server
install(TARGETS airmesh-server airmesh-bot fs-standin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server)
install(FILES ${airmesh_gen}/airmesh-server.1.gz ${airmesh_gen}/airmesh-bot.1.gz ${airmesh_gen}/fs-standin.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT server)
install(FILES ${airmesh_pkg}/copyright ${airmesh_gen}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/airmesh-server COMPONENT server)
install(FILES ${airmesh_pkg}/lintian-overrides.server DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME airmesh-server COMPONENT server)
# The service and its configuration belong in /etc and /lib when installed into /usr (the
# package), and below the prefix anywhere else, so that an installation into a home folder
# never reaches for /etc. Decided when installing, as only then is the prefix known.
install(CODE "set(airmesh_packaging \"${airmesh_pkg}\")" COMPONENT server)
install(CODE [[
    if(CMAKE_INSTALL_PREFIX MATCHES "^(.*)/usr/?$")
        set(airmesh_root "${CMAKE_MATCH_1}")
    else()
        set(airmesh_root "${CMAKE_INSTALL_PREFIX}")
    endif()
    # The accounts hold passwords: root's alone (the service gets them as a credential).
    file(INSTALL "${airmesh_packaging}/accounts.txt" DESTINATION "${airmesh_root}/etc/airmesh"
         PERMISSIONS OWNER_READ OWNER_WRITE)
    file(INSTALL "${airmesh_packaging}/airmesh-server.default" DESTINATION "${airmesh_root}/etc/default"
         RENAME airmesh-server)
    file(INSTALL "${airmesh_packaging}/airmesh-server.service" DESTINATION "${airmesh_root}/lib/systemd/system")
]] COMPONENT server)

# ---- Debian packages
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME airmesh)
set(CPACK_PACKAGE_VENDOR Norvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's own description below starts with its summary line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_CONTACT ${AIRMESH_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${AIRMESH_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE airmesh)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
# The libraries' packages from the programs themselves (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME airmesh-client)
# A network relay for a simulator, not a game itself (Debian keeps games in /usr/games).
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION net)
# A native window on Wayland; the X11 one comes with Qt's own GUI library.
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SUGGESTS "wine, airmesh-server")
set(CPACK_DEBIAN_CLIENT_DESCRIPTION "fly FS2000 or FS2002 online through an Airmesh server
Airmesh Client joins the multiplayer session that Microsoft Flight Simulator
2000 or 2002 hosts on this machine (under Wine, or natively on another one),
logs on to an Airmesh multiplayer server with a pilot ID and password, and
relays the traffic both ways: the user's aircraft, position, crashes and chat
go to the server, and the other pilots appear in the simulator as remote
aircraft. It speaks the simulator's DirectPlay session over TCP/IP itself.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME airmesh-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_DESCRIPTION "Airmesh multiplayer server, test pilots and simulator stand-in
airmesh-server logs Airmesh pilots on and relays their positions, aircraft,
crashes and chat, for a group of friends or for trying the client on one
machine. A systemd service runs it with the accounts in
/etc/airmesh/accounts.txt once the operator enables it.
.
airmesh-bot flies headless pilots against a server; fs-standin hosts a
multiplayer session as FS2000/FS2002 does, so that airmesh-client can be
tried without the simulator.")
configure_file(${airmesh_pkg}/conffiles.server ${airmesh_gen}/server/conffiles COPYONLY)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${airmesh_gen}/server/conffiles)

include(CPack)

# The packages' own test: built, checked, unpacked and started (tests/package).
if(AIRMESH_TESTS)
    add_subdirectory(tests/package)
endif()
