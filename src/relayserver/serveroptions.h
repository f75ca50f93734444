#pragma once

#include "relayserver.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace airmesh {
inline namespace relayserver {

// The command line of airmesh-server, checked.
struct ServerOptions {
    RelayServerConfig config;
    QString accountsPath; // empty with openMode
    bool openMode = false;
    quint16 httpPort = 0; // 0: no status page
    // --add-pilot: write this pilot's hashed line into the accounts file and end.
    std::optional<qint32> addPilot;
    QString addHandle;
};

struct ParsedServerOptions {
    std::optional<ServerOptions> options; // empty: print `message` and end with `exitCode`
    QString message;
    int exitCode = 0;
};

// `arguments` includes the program name, as QCoreApplication::arguments() gives it.
ParsedServerOptions parseServerOptions(const QStringList& arguments);

} // namespace relayserver
} // namespace airmesh
