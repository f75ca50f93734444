#include "accounts.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sodium.h>

#include <algorithm>

namespace airmesh {
inline namespace relayserver {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The next whitespace-separated word of `line` from `at`, moving `at` past it.
QByteArrayView nextWord(QByteArrayView line, qsizetype& at) {
    while (at < line.size() && isBlank(line[at])) {
        ++at;
    }
    const qsizetype start = at;
    while (at < line.size() && !isBlank(line[at])) {
        ++at;
    }
    return line.sliced(start, at - start);
}

std::optional<qint32> toInt32(QByteArrayView word) {
    bool ok = false;
    const qint32 v = word.toInt(&ok, 10);
    if (!ok) {
        return std::nullopt;
    }
    return v;
}

constexpr QByteArrayView kHashPrefix = "$argon2id$";

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// A hash string libsodium can read back, of the form crypto_pwhash_str writes.
bool isHashString(QByteArrayView word) {
    if (!word.startsWith(kHashPrefix) || word.size() >= qsizetype{crypto_pwhash_STRBYTES} || !sodiumReady()) {
        return false;
    }
    const QByteArray z = word.toByteArray(); // NUL-terminated
    return crypto_pwhash_str_needs_rehash(z.constData(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                          crypto_pwhash_MEMLIMIT_INTERACTIVE) >= 0;
}

} // namespace

Accounts Accounts::open() {
    Accounts a;
    a.m_open = true;
    return a;
}

Accounts::ParseResult Accounts::parse(QByteArrayView text) {
    ParseResult result;
    int lineNo = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0) {
            end = text.size();
        }
        QByteArrayView line = text.sliced(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        const auto fail = [&](const QString& what) {
            result.errors.append(QStringLiteral("line %1: %2").arg(lineNo).arg(what));
        };
        qsizetype at = 0;
        const QByteArrayView first = nextWord(line, at);
        if (first.isEmpty() || first.startsWith('#')) {
            continue;
        }
        const QByteArrayView second = nextWord(line, at);
        const std::optional<qint32> id = toInt32(first);
        const bool hashed = second.startsWith(kHashPrefix);
        const std::optional<qint32> password = hashed ? std::optional<qint32>(0) : toInt32(second);
        if (!id) {
            fail(QStringLiteral("the pilot ID is not a 32-bit number"));
            continue;
        }
        if (hashed && !isHashString(second)) {
            fail(QStringLiteral("the password hash is not one this server can read"));
            continue;
        }
        if (second.isEmpty() || !password) {
            fail(QStringLiteral("the password is missing or not a 32-bit number"));
            continue;
        }
        const QString handle = QString::fromUtf8(line.sliced(at)).trimmed();
        if (handle.size() > kMaxHandleChars) {
            fail(QStringLiteral("the handle is longer than %1 characters").arg(kMaxHandleChars));
            continue;
        }
        if (std::any_of(handle.cbegin(), handle.cend(), [](QChar c) { return c.category() == QChar::Other_Control; })) {
            fail(QStringLiteral("the handle holds a control character"));
            continue;
        }
        if (result.accounts.m_byId.contains(*id)) {
            fail(QStringLiteral("pilot %1 is listed twice").arg(*id));
            continue;
        }
        result.accounts.m_byId.insert(*id,
                                      Account{*id, *password, handle, hashed ? second.toByteArray() : QByteArray()});
    }
    return result;
}

Accounts::ParseResult Accounts::load(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {Accounts(), {QStringLiteral("cannot open %1: %2").arg(path, f.errorString())}};
    }
    if (f.size() > kMaxFileBytes) {
        return {Accounts(), {QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxFileBytes)}};
    }
    // Read at most the limit even if the file grew after the size check.
    return parse(f.read(kMaxFileBytes + 1).left(kMaxFileBytes));
}

const Account* Accounts::find(qint32 pilotId) const {
    const auto it = m_byId.constFind(pilotId);
    return m_open || it == m_byId.cend() ? nullptr : &*it;
}

std::optional<Account> Accounts::check(qint32 pilotId, qint32 password) const {
    if (m_open) {
        return Account{pilotId, password, {}, {}};
    }
    const Account* a = find(pilotId);
    if (!a) {
        return std::nullopt;
    }
    const bool right = a->passwordHash.isEmpty() ? a->password == password : verifyHash(a->passwordHash, password);
    return right ? std::optional(*a) : std::nullopt;
}

QList<qint32> Accounts::plainPilotIds() const {
    QList<qint32> ids;
    for (const Account& a : m_byId) {
        if (a.passwordHash.isEmpty()) {
            ids.append(a.pilotId);
        }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool Accounts::verifyHash(const QByteArray& hash, qint32 password) {
    if (!sodiumReady()) {
        return false;
    }
    const QByteArray digits = QByteArray::number(password);
    return crypto_pwhash_str_verify(hash.constData(), digits.constData(),
                                    static_cast<unsigned long long>(digits.size())) == 0;
}

QByteArray Accounts::hashPassword(qint32 password) {
    if (!sodiumReady()) {
        return {};
    }
    const QByteArray digits = QByteArray::number(password);
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, digits.constData(), static_cast<unsigned long long>(digits.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        return {};
    }
    return {out};
}

QString Accounts::addPilot(const QString& path, qint32 pilotId, qint32 password, const std::optional<QString>& handle) {
    QByteArray text;
    QFileInfo info(path);
    const bool existed = info.exists();
    if (existed) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            return QStringLiteral("cannot open %1: %2").arg(path, f.errorString());
        }
        if (f.size() > kMaxFileBytes) {
            return QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxFileBytes);
        }
        text = f.read(kMaxFileBytes);
        const ParseResult before = parse(text);
        if (!before.errors.isEmpty()) {
            return QStringLiteral("%1: %2").arg(path, before.errors.join(QStringLiteral("; ")));
        }
    }
    const QByteArray hash = hashPassword(password);
    if (hash.isEmpty()) {
        return QStringLiteral("could not hash the password (out of memory)");
    }
    // The pilot's line, wherever it was; the other lines byte for byte.
    QList<QByteArray> lines = text.isEmpty() ? QList<QByteArray>() : text.split('\n');
    if (text.endsWith('\n')) {
        lines.removeLast();
    }
    qsizetype at = -1;
    QString keptHandle;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArrayView line(lines[i]);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        qsizetype pos = 0;
        const QByteArrayView first = nextWord(line, pos);
        if (!first.isEmpty() && !first.startsWith('#') && toInt32(first) == pilotId) {
            at = i;
            (void)nextWord(line, pos);
            keptHandle = QString::fromUtf8(line.sliced(pos)).trimmed();
            break;
        }
    }
    const QString newHandle = handle ? handle->trimmed() : keptHandle;
    QByteArray line = QByteArray::number(pilotId) + ' ' + hash;
    if (!newHandle.isEmpty()) {
        line += ' ' + newHandle.toUtf8();
    }
    if (at >= 0) {
        if (lines[at].endsWith('\r')) {
            line += '\r';
        }
        lines[at] = line;
    } else {
        lines.append(line);
    }
    const QByteArray out = lines.join('\n') + '\n';
    const ParseResult after = parse(out);
    if (!after.errors.isEmpty()) {
        return after.errors.join(QStringLiteral("; "));
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        return QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
    }
    f.setPermissions(existed ? info.permissions() : QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (f.write(out) != out.size() || !f.commit()) {
        return QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
    }
    return {};
}

} // namespace relayserver
} // namespace airmesh
