#include "netio.h"

#include <QHostAddress>
#include <QHostInfo>

namespace airmesh::dplay::net {

bool resolveIPv4(const QString& host, quint32& ip) {
    const QString name = host.trimmed();
    if (name.isEmpty()) {
        return false;
    }
    bool ok = false;
    QHostAddress direct;
    if (direct.setAddress(name)) {
        const quint32 v = direct.toIPv4Address(&ok);
        if (ok) {
            ip = v;
        }
        return ok;
    }
    // A name: the system's resolver, waited for (the join asks once, before it searches).
    const QList<QHostAddress> found = QHostInfo::fromName(name).addresses();
    for (const QHostAddress& a : found) {
        const quint32 v = a.toIPv4Address(&ok);
        if (ok) {
            ip = v;
            return true;
        }
    }
    return false;
}

QString ipText(quint32 ip) {
    return QStringLiteral("%1.%2.%3.%4").arg(ip >> 24).arg((ip >> 16) & 0xFF).arg((ip >> 8) & 0xFF).arg(ip & 0xFF);
}

} // namespace airmesh::dplay::net
