#pragma once

// The profile-file engine: the sectioned "key=value" text format of the settings file and
// of the simulator's aircraft files, with the read and write rules of the Windows
// private-profile functions. Works on bytes in the ANSI code page; INIFiles converts.

#include <QByteArray>

#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace airmesh::profile {

// The longest value a read returns; longer values are cut (a 128-character buffer
// with its terminating zero).
inline constexpr int kMaxValueChars = 127;

// Files larger than this are not read at all: no settings or aircraft file comes near it.
inline constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

// True where two ANSI names are the same without regard to letter case.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// Trims blanks and removes one pair of enclosing double or single quotes.
std::string_view cleanValue(std::string_view raw);

// A parsed, read-only view of one file's bytes, answering look-ups quickly even for
// sections with thousands of keys.
class Index {
public:
    explicit Index(QByteArray bytes);
    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;

    // The cleaned value of the first key named `key` in the first section named
    // `section` that holds it, or nothing.
    std::optional<std::string_view> find(std::string_view section, std::string_view key) const;

private:
    struct Entry {
        std::string_view key;
        std::string_view value;
    };
    struct Section {
        std::string_view name;
        std::size_t first = 0; // range of m_entries
        std::size_t end = 0;
        // Built on first look-up in a large section: folded key -> first entry index.
        mutable std::unique_ptr<std::unordered_map<std::string, std::size_t>> byKey;
    };
    const Entry* findIn(const Section& s, std::string_view key) const;

    QByteArray m_bytes;
    std::vector<Entry> m_entries;
    std::vector<Section> m_sections;
};

// What one physical line is.
struct Line {
    enum class Kind { Other, Section, Key } kind = Kind::Other;
    std::string_view name; // section name or key, trimmed
};
Line classify(std::string_view line);

// The bytes of `original` with `key` in `section` set to `value`: the key's line replaced,
// or a new line after the section's last key, or a new section at the end. Every other line
// keeps its text; lines are ended CRLF.
QByteArray applyWrite(const QByteArray& original, std::string_view section, std::string_view key,
                      std::string_view value);

// The form in which a name is stored as a key. A name ends at its first NUL; characters
// the format cannot hold in a key ('=' anywhere, CR, LF, and '[' or ';' at the start) are
// written as %XX so that such a name reads back as itself and never breaks the file. A '%'
// followed by two hex digits is escaped too, so that no two names share a stored key.
QByteArray storedKey(QByteArray name);

} // namespace airmesh::profile
