#pragma once

#include "standin/memorysession.h"

#include <QString>

namespace airmesh {

// The simulator on this machine, played in memory: a session hosted under the first
// application identifier with both parameter groups, whose own player (the user's aircraft,
// named `handle`) accepts the observer's join request at once.
struct FakeFs {
    explicit FakeFs(const QString& handle);

    MemoryWorld world;
    MemorySessionFactory factory{world};
    QByteArray fs;
    qint32 host = 0;
};

} // namespace airmesh
