#pragma once

// The profile-file engine: the sectioned "key=value" text format of the settings file and
// of the simulator's aircraft files, with the read and write rules of the Windows
// private-profile functions. Works on the bytes of a file's text (see Text); INIFiles converts.

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace airmesh {
inline namespace core {
namespace profile {

// The longest value a read returns; longer values are cut (a 128-character buffer
// with its terminating zero).
inline constexpr int kMaxValueChars = 127;

// Files larger than this are not read at all: no settings or aircraft file comes near it.
inline constexpr qint64 kMaxFileBytes = qint64{16} * 1024 * 1024;

// How a file's text is stored. A file that starts with a byte-order mark is Unicode, as an
// editor's "UTF-8" or "Unicode" save makes it, and is written back in the same form with its
// mark; any other file is in the ANSI code page.
enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };

// A file's text in the form the engine works on: the bytes themselves for an ANSI file, UTF-8
// for the Unicode ones. Every character the engine looks at (blanks, '[', ']', '=', ';', line
// ends) is one byte in both. UTF-16 converts to it and back byte for byte, lone surrogates
// included; an odd byte at the end of a UTF-16 file is no character and is not kept.
struct Text {
    Encoding encoding = Encoding::Ansi;
    QByteArray bytes;
};
Text decodeFile(QByteArray file);
QByteArray encodeFile(const Text& text);

// The program's text in a file's form and back. ANSI: Windows-1252, '?' for what it lacks.
QByteArray toText(const QString& s, Encoding e);
QString fromText(std::string_view bytes, Encoding e);

// True where two names are the same without regard to letter case (Windows-1252 letters in
// an ANSI file, Unicode case folding in the others).
bool equalsIgnoreCase(std::string_view a, std::string_view b, Encoding e = Encoding::Ansi);

// Trims blanks and removes one pair of enclosing double or single quotes.
std::string_view cleanValue(std::string_view raw);

// A parsed, read-only view of one file, answering look-ups quickly even for sections with
// thousands of keys. Lines end at CR, LF or CR LF.
class Index {
public:
    explicit Index(QByteArray fileBytes) : Index(decodeFile(std::move(fileBytes))) {}
    explicit Index(Text text);
    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;

    // The encoding of the file; names to look up and the values found are in its form.
    Encoding encoding() const { return m_encoding; }

    // The cleaned value of the first key named `key` in the first section named
    // `section` that holds it, or nothing. A value ends at its first NUL.
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

    Encoding m_encoding = Encoding::Ansi;
    QByteArray m_bytes;
    std::vector<Entry> m_entries;
    std::vector<Section> m_sections;
};

// What one physical line is.
struct Line {
    enum class Kind { Other, Section, Key } kind = Kind::Other;
    std::string_view name; // section name or key, trimmed
};
Line classify(std::string_view raw);

// `original` with `key` in `section` set to `value` (all three in its form): the key's line
// replaced, or a new line after the section's last key, or a new section at the end. Every
// other line keeps its bytes and its own line end; a new line takes the file's first line end
// (CR LF in a file without one), and a last line without an end gets one when a line follows.
Text applyWrite(const Text& original, std::string_view section, std::string_view key, std::string_view value);

// The form in which a name is stored as a key. A name ends at its first NUL; characters
// the format cannot hold in a key ('=' anywhere, CR, LF, and '[' or ';' at the start) are
// written as %XX so that such a name reads back as itself and never breaks the file. A '%'
// followed by two hex digits is escaped too, so that no two names share a stored key.
QByteArray storedKey(QByteArray name);

} // namespace profile
} // namespace core
} // namespace airmesh
