#include "servicesrig.h"

#include "core/ansi.h"

#include <QDir>
#include <QFile>

namespace airmesh {

QStringList logTexts(const QString& fileName) {
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
        if (!text.isEmpty()) {
            out << fromAnsi(text.mid(8)); // after "hh:nn:ss"
        }
    }
    return out;
}

void writeCueFiles(const QString& folder) {
    for (const char* cue : {"connected.wav", "incoming.wav", "crash.wav"}) {
        QFile f(QDir(folder).filePath(QLatin1String(cue)));
        if (f.open(QIODevice::WriteOnly)) {
            f.write("RIFF");
        }
    }
}

} // namespace airmesh
