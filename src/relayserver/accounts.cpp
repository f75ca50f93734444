#include "accounts.h"

#include <QFile>

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
        const std::optional<qint32> password = toInt32(second);
        if (!id) {
            fail(QStringLiteral("the pilot ID is not a 32-bit number"));
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
        result.accounts.m_byId.insert(*id, Account{*id, *password, handle});
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

std::optional<Account> Accounts::check(qint32 pilotId, qint32 password) const {
    if (m_open) {
        return Account{pilotId, password, {}};
    }
    const auto it = m_byId.constFind(pilotId);
    if (it == m_byId.cend() || it->password != password) {
        return std::nullopt;
    }
    return *it;
}

} // namespace relayserver
} // namespace airmesh
