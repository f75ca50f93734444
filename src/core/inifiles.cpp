#include "inifiles.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>

namespace airmesh {
inline namespace core {

namespace {

QString limitValue(QString v) {
    if (v.size() > profile::kMaxValueChars) {
        v.truncate(profile::kMaxValueChars);
    }
    return v;
}

// A value as the 128-character read buffer returns it: cut to 127 characters, then blanks
// trimmed from both ends of the buffer. The terminating zero shields the value's end, so only
// blanks at its start go; they survive the file's own trimming only inside quotes (" v").
QString bufferedValue(const QString& v) {
    QString out = limitValue(v);
    qsizetype lead = 0;
    while (lead < out.size() && out[lead] == QLatin1Char(' ')) {
        ++lead;
    }
    return out.mid(lead);
}

// File time stamps move in clock ticks (several milliseconds on many systems), so an edit of the
// same size in the tick of our read could leave the stamp unchanged. A file changed within this
// long before the read is read again next time instead of being trusted by its stamp.
constexpr qint64 kStampSettleNs = 2'000'000'000;

bool stampSettled(const FileStamp& s) {
    // The stamps come from the file system's real-time clock, so they are compared with it,
    // not with the client's clock.
    const qint64 nowNs = QDateTime::currentMSecsSinceEpoch() * 1'000'000;
    return std::max(s.mtimeNs, s.ctimeNs) < nowNs - kStampSettleNs;
}

std::string_view view(const QByteArray& b) {
    return {b.constData(), static_cast<std::size_t>(b.size())};
}

// A value is one line: anything from its first line break (or NUL) on cannot be stored.
QByteArray storedValue(const QString& value, profile::Encoding e) {
    QByteArray v = profile::toText(value, e);
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == '\r' || v[i] == '\n' || v[i] == '\0') {
            v.truncate(i);
            break;
        }
    }
    return v;
}

bool readWhole(const QString& path, QByteArray& out) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return false;
    }
    const qint64 size = f.size();
    if (size > profile::kMaxFileBytes) {
        return false;
    }
    // read(n) reserves n bytes up front: ask for what the file holds, plus one byte that
    // shows whether it grew past the limit meanwhile.
    out = f.read(size + 1);
    return out.size() <= profile::kMaxFileBytes;
}

} // namespace

void INIFiles::setFileName(const QString& vData) {
    m_fileName = vData;
    m_index.reset();
    m_stamp = {};
}

std::shared_ptr<const profile::Index> INIFiles::current() const {
    const FileStamp stamp = fileStamp(m_fileName);
    if (!stamp.exists) {
        m_index.reset();
        m_stamp = {};
        return nullptr;
    }
    if (m_index && stamp == m_stamp) {
        return m_index;
    }
    QByteArray bytes;
    if (!readWhole(m_fileName, bytes)) {
        m_index.reset();
        m_stamp = {};
        return nullptr;
    }
    m_index = std::make_shared<const profile::Index>(std::move(bytes));
    // A file changed while we read it gets a new stamp; re-reading next time is then harmless.
    m_stamp = stampSettled(stamp) ? stamp : FileStamp{};
    return m_index;
}

QString INIFiles::ReadINI(const QString& KeyTitle, const QString& KeyName, const QString& MyDefault) const {
    const auto index = current();
    if (index) {
        // Trimmed as WriteINI trims it, so that what one writes the other finds.
        const profile::Encoding e = index->encoding();
        const QByteArray section = profile::toText(KeyTitle.trimmed(), e);
        const QByteArray key = profile::storedKey(profile::toText(KeyName, e));
        if (const auto value = index->find(view(section), view(key))) {
            return bufferedValue(profile::fromText(*value, e));
        }
    }
    // The default passes through the same 128-character buffer as a value would.
    return limitValue(MyDefault.trimmed());
}

bool INIFiles::WriteINI(const QString& KeyTitle, const QString& KeyName, const QString& Value) {
    QByteArray original;
    if (fileStamp(m_fileName).exists && !readWhole(m_fileName, original)) {
        return false;
    }
    // The file keeps its encoding: a Unicode file stays Unicode, with its byte-order mark.
    const profile::Text text = profile::decodeFile(std::move(original));
    const QByteArray section = profile::toText(KeyTitle.trimmed(), text.encoding);
    const QByteArray key = profile::storedKey(profile::toText(KeyName, text.encoding));
    if (section.isEmpty() || key.isEmpty() || section.contains(']') || section.contains('\n') ||
        section.contains('\r') || section.contains('\0')) {
        return false;
    }
    const profile::Text updated =
        profile::applyWrite(text, view(section), view(key), view(storedValue(Value, text.encoding)));
    if (!replaceFileAtomically(m_fileName, profile::encodeFile(updated))) {
        return false;
    }
    m_index.reset();
    m_stamp = {};
    return true;
}

bool settingToBool(const QString& text, bool otherwise) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    bool ok = false;
    const double n = t.toDouble(&ok);
    if (ok) {
        return n != 0.0;
    }
    return otherwise;
}

} // namespace core
} // namespace airmesh
