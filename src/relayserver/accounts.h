#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace airmesh {
inline namespace relayserver {

// One pilot who may log on: the numeric ID and password the client sends, and the handle the
// other pilots see (empty: the handle the client sends is used). A hashed account keeps the
// password's Argon2id hash string instead of the password (which is then 0).
struct Account {
    qint32 pilotId = 0;
    qint32 password = 0;
    QString handle;
    QByteArray passwordHash; // "$argon2id$...", or empty for a plain line

    bool operator==(const Account&) const = default;
};

// The pilot accounts of the server, read from a text file:
//
//     # comment lines and blank lines are ignored
//     <pilot id> <password> [handle]
//     <pilot id> $argon2id$v=19$m=65536,t=2,p=1$<salt>$<hash> [handle]
//
// The ID and password are signed 32-bit decimal numbers; the hashed form holds libsodium's
// crypto_pwhash_str of the password's decimal digits (written by addPilot). The handle is the
// rest of the line, trimmed, at most 20 characters, and may contain spaces. A file with any bad
// line is refused as a whole, so a mistyped account never silently locks its pilot out.
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
    // The account of a pilot ID, or null (also in open mode).
    const Account* find(qint32 pilotId) const;
    // The account when the credentials are right (open mode: a fresh one without handle). A
    // hashed account is verified here too, which takes as long as verifyHash.
    std::optional<Account> check(qint32 pilotId, qint32 password) const;
    // The pilots whose lines hold their password in plain, in increasing order.
    QList<qint32> plainPilotIds() const;

    // Whether `hash` (a crypto_pwhash_str string) is that of `password`'s decimal digits. Slow
    // on purpose (Argon2id, interactive cost: tens of milliseconds and 64 MiB); thread-safe.
    static bool verifyHash(const QByteArray& hash, qint32 password);
    // A fresh salted hash of `password`'s decimal digits; empty if memory ran out.
    static QByteArray hashPassword(qint32 password);
    // Writes `pilotId`'s line with a fresh hash of `password` into the file at `path` (created if
    // missing, readable by its owner only), replacing his earlier line and keeping every other
    // line, comment and the file's permissions; the handle stays as it was unless `handle` is
    // given. The file is replaced at once (a temporary file in the same folder renamed over it).
    // Returns an error message, or empty on success.
    static QString addPilot(const QString& path, qint32 pilotId, qint32 password, const std::optional<QString>& handle);

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
