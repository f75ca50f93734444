#pragma once

#include "core/errors.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>
#include <unordered_map>
#include <variant>
#include <vector>

namespace airmesh {
inline namespace registry {

// One remote pilot the server announced. He is shown (he has a player in the local simulator
// session) or waiting (the session has no room for him, or the user wants fewer shown). Plain
// data: no checks, no side effects.
struct Player {
    // While shown, the pilot's simulator player id in decimal; while waiting, a key no player id
    // can be ("~" and his session number). His key in Players either way.
    QString Key;
    bool Add_Success = false;     // the simulator approved the player's addition
    QDateTime ChatRcvd;           // when the last chat piece from this pilot arrived
    bool RcvdPlaneType = false;   // the pilot's aircraft details have arrived from the server
    QString ChatText;             // chat gathered from pieces until the end mark
    bool ChatTooLong = false;     // the chat being gathered outgrew the limit: dropped at its end mark
    QString PlayerHandle;         // the pilot's display name
    qint32 Server_Session_ID = 0; // the pilot's session number on the server
    qint32 Aircraft_Type = 0;     // engine type code of the pilot's aircraft
    QString Aircraft_Name;        // aircraft title as the server reported it, before aliasing
    bool Rcv_Detailed_Info = false;
    // For the traffic picture, kept as they pass and read only when someone looks:
    QString shownTitle;        // the aircraft title last sent to the simulator for this pilot
    QString shownReason;       // why, when it is the automatic choice: "same role: business jet, 2 jets"
    QByteArray lastPosition;   // the pilot's last position block, as relayed
    qint64 lastPositionMs = 0; // when it came, on the clock's steady milliseconds
    // Who is shown while the session is crowded (times on the clock's steady milliseconds):
    bool inSession = false;    // he has a player in the simulator's session: shown
    quint64 joinOrder = 0;     // counts up with each announcement: the earlier wins a tie
    qint64 joinedMs = 0;       // when he was announced
    qint64 shownSinceMs = 0;   // when his current session player was made
    bool catchUp = false;      // shown after waiting: his details and position go once FS approves
    bool rejectedByFs = false; // the simulator refused his player: not shown again
    bool waitLogged = false;   // his waiting has been logged since he last had a place
    qint64 noShowBeforeMs = 0; // a show that failed is not tried again before this
};

// The registry's errors carry the numbers and texts of a keyed collection's errors, since
// callers log them as such.
class CollectionError : public NumberedError {
public:
    enum Code { InvalidArgument = 5, DuplicateKey = 457 };
    explicit CollectionError(Code code);
    Code code() const { return static_cast<Code>(number()); }
};

// The remote players, in insertion order, keyed by Key. A removed player stays usable by
// whoever still holds it.
class Players {
public:
    using PlayerPtr = std::shared_ptr<Player>;
    // A 1-based position or a key.
    using IndexKey = std::variant<int, QString>;

    // Creates a player with this key and appends it; throws DuplicateKey when the key exists.
    PlayerPtr Add(const QString& Key);
    // Throws InvalidArgument for an unknown key or a position out of range.
    PlayerPtr Item(const IndexKey& vntIndexKey) const;
    int Count() const { return static_cast<int>(m_order.size()); }
    void Remove(const IndexKey& vntIndexKey);
    // Files `p` under another key, in the same place of the order; throws DuplicateKey when the
    // key is taken, InvalidArgument when `p` is not in the registry.
    void rekey(const PlayerPtr& p, const QString& newKey);

    // Enumerates the players present when it was made, in order, skipping any removed since:
    // removing the current player (or any other) while enumerating is safe.
    class Enumerator {
    public:
        class iterator {
        public:
            iterator(const Enumerator* e, std::size_t i) : m_e(e), m_i(i) { skip(); }
            const PlayerPtr& operator*() const { return m_e->m_snapshot[m_i]; }
            iterator& operator++() {
                ++m_i;
                skip();
                return *this;
            }
            bool operator==(const iterator& o) const { return m_i == o.m_i; }

        private:
            void skip();
            const Enumerator* m_e;
            std::size_t m_i;
        };
        iterator begin() const { return {this, 0}; }
        iterator end() const { return {this, m_snapshot.size()}; }

    private:
        friend class Players;
        Enumerator(const Players& owner, std::vector<PlayerPtr> snapshot)
            : m_owner(owner), m_snapshot(std::move(snapshot)) {}
        const Players& m_owner;
        std::vector<PlayerPtr> m_snapshot;
    };
    Enumerator NewEnum() const { return {*this, m_order}; }
    // The players as they are now, in order, for a walk that changes no entry: nothing is
    // copied, so a caller that adds or removes players meanwhile must use NewEnum instead.
    const std::vector<PlayerPtr>& inOrder() const { return m_order; }

    // True while `p` is the player held under its key.
    bool contains(const Player* p) const;

    // Look-ups every caller needs: the first player with this simulator id, the first with
    // this server session number.
    PlayerPtr findByPlayerId(qint32 id) const;
    PlayerPtr findBySession(qint32 session) const;

private:
    std::size_t positionOf(const IndexKey& k) const;

    std::vector<PlayerPtr> m_order;
    std::unordered_map<QString, PlayerPtr> m_byKey;
};

} // namespace registry
} // namespace airmesh
