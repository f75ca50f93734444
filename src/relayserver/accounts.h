#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace airmesh {
inline namespace relayserver {

// One pilot who may log on: the numeric ID and password the client sends, and the handle the
// other pilots see (empty: the handle the client sends is used).
struct Account {
    qint32 pilotId = 0;
    qint32 password = 0;
    QString handle;

    bool operator==(const Account&) const = default;
};

// The pilot accounts of the server, read from a text file:
//
//     # comment lines and blank lines are ignored
//     <pilot id> <password> [handle]
//
// The ID and password are signed 32-bit decimal numbers; the handle is the rest of the line,
// trimmed, at most 20 characters, and may contain spaces. A file with any bad line is refused
// as a whole, so a mistyped account never silently locks its pilot out.
class Accounts {
public:
    // Longest accepted file; a bigger one is refused before it is read.
    static constexpr qint64 kMaxFileBytes = qint64{4} * 1024 * 1024;
    static constexpr int kMaxHandleChars = 20;

    struct ParseResult;

    // Every logon with numeric credentials is accepted.
    static Accounts open();
    static ParseResult parse(QByteArrayView text);
    static ParseResult load(const QString& path);

    bool isOpen() const { return m_open; }
    qsizetype size() const { return m_byId.size(); }
    // The account when the credentials are right (open mode: a fresh one without handle).
    std::optional<Account> check(qint32 pilotId, qint32 password) const;

private:
    bool m_open = false;
    QHash<qint32, Account> m_byId;
};

struct Accounts::ParseResult {
    Accounts accounts;
    QStringList errors; // "line N: what is wrong"; empty when the text is good
};

} // namespace relayserver
} // namespace airmesh
