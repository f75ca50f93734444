#include "profile.h"

#include "ansi.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace airmesh {
inline namespace core {
namespace profile {

namespace {

// Windows-1252 letter case folding, one byte to one byte.
constexpr std::array<unsigned char, 256> makeFoldTable() {
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i) {
        t[i] = static_cast<unsigned char>(i);
    }
    for (int i = 'A'; i <= 'Z'; ++i) {
        t[i] = static_cast<unsigned char>(i + 32);
    }
    for (int i = 0xC0; i <= 0xDE; ++i) {
        if (i != 0xD7) {
            t[i] = static_cast<unsigned char>(i + 32);
        }
    }
    t[0x8A] = 0x9A; // S caron
    t[0x8C] = 0x9C; // OE
    t[0x8E] = 0x9E; // Z caron
    t[0x9F] = 0xFF; // Y diaeresis
    return t;
}
constexpr auto kFold = makeFoldTable();

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A name in one form for every spelling that equalsIgnoreCase takes as the same.
std::string folded(std::string_view s, Encoding e) {
    if (e != Encoding::Ansi && !isAscii(s)) {
        const QByteArray f = toText(fromText(s, e).toCaseFolded(), e);
        return {f.constData(), static_cast<std::size_t>(f.size())};
    }
    // ASCII folds the same in every encoding, so the table serves a Unicode file's plain names.
    std::string out(s.size(), '\0');
    for (std::size_t i = 0; i < s.size(); ++i) {
        out[i] = static_cast<char>(kFold[static_cast<unsigned char>(s[i])]);
    }
    return out;
}

// ---- Unicode text ------------------------------------------------------------------------
// A Unicode file's text is handled as UTF-8. UTF-16 code units that are not part of a pair
// (which Windows accepts in a file) are written as three-byte sequences of their own, so a
// UTF-16 file converts back to exactly its bytes.

void appendUtf8(QByteArray& out, char32_t cp) {
    if (cp < 0x80) {
        out.append(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.append(static_cast<char>(0xC0 | (cp >> 6)));
        out.append(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.append(static_cast<char>(0xE0 | (cp >> 12)));
        out.append(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.append(static_cast<char>(0xF0 | (cp >> 18)));
        out.append(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.append(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.append(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

QByteArray unitsToUtf8(const char16_t* u, qsizetype n) {
    QByteArray out;
    out.reserve(n + n / 2);
    for (qsizetype i = 0; i < n; ++i) {
        if (isHighSurrogate(u[i]) && i + 1 < n && isLowSurrogate(u[i + 1])) {
            appendUtf8(out, 0x10000 + ((char32_t(u[i]) - 0xD800) << 10) + (char32_t(u[i + 1]) - 0xDC00));
            ++i;
        } else {
            appendUtf8(out, u[i]);
        }
    }
    return out;
}

// UTF-8 to UTF-16 units; a byte that starts no valid sequence becomes U+FFFD.
QString utf8ToUnits(std::string_view s) {
    QString out;
    out.reserve(static_cast<qsizetype>(s.size()));
    auto cont = [&s](std::size_t i) { return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80; };
    auto at = [&s](std::size_t i) { return char32_t(static_cast<unsigned char>(s[i])); };
    std::size_t i = 0;
    while (i < s.size()) {
        const char32_t b = at(i);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
            cp = ((b & 0x1F) << 6) | (at(i + 1) & 0x3F);
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2) && (b != 0xE0 || at(i + 1) >= 0xA0)) {
            cp = ((b & 0x0F) << 12) | ((at(i + 1) & 0x3F) << 6) | (at(i + 2) & 0x3F);
            len = 3;
        } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3) &&
                   (b != 0xF0 || at(i + 1) >= 0x90) && (b != 0xF4 || at(i + 1) <= 0x8F)) {
            cp = ((b & 0x07) << 18) | ((at(i + 1) & 0x3F) << 12) | ((at(i + 2) & 0x3F) << 6) | (at(i + 3) & 0x3F);
            len = 4;
        }
        if (cp >= 0x10000) {
            out.append(QChar(char16_t(0xD800 + ((cp - 0x10000) >> 10))));
            out.append(QChar(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF))));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        i += len;
    }
    return out;
}

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

bool startsWith(const QByteArray& b, const char* prefix, qsizetype n) {
    return b.size() >= n && std::memcmp(b.constData(), prefix, static_cast<std::size_t>(n)) == 0;
}

// One physical line: its text and the end that closes it (CR LF, CR, LF, or none at the end).
struct RawLine {
    std::string_view text;
    std::string_view end;
};

// Sections at or below this size are searched line by line; above it a hash index pays.
constexpr std::size_t kLinearLimit = 24;

// Windows ends a line at CR, LF or CR LF alike; an editor that saved the file with old Mac
// line ends, or a mix of them, must not merge lines.
template <typename F> void forEachLine(std::string_view text, F&& f) {
    std::size_t pos = 0;
    const std::size_t n = text.size();
    while (pos < n) {
        std::size_t end = pos;
        while (end < n && text[end] != '\n' && text[end] != '\r') {
            ++end;
        }
        std::size_t next = end;
        if (next < n) {
            next += (text[next] == '\r' && next + 1 < n && text[next + 1] == '\n') ? 2 : 1;
        }
        f(RawLine{text.substr(pos, end - pos), text.substr(end, next - end)});
        pos = next;
    }
}

} // namespace

Text decodeFile(QByteArray file) {
    if (startsWith(file, kUtf8Bom, 3)) {
        return {Encoding::Utf8, file.sliced(3)};
    }
    const bool le = startsWith(file, "\xFF\xFE", 2);
    if (le || startsWith(file, "\xFE\xFF", 2)) {
        const qsizetype units = (file.size() - 2) / 2;
        std::u16string u(static_cast<std::size_t>(units), u'\0');
        const auto* p = reinterpret_cast<const unsigned char*>(file.constData()) + 2;
        for (qsizetype i = 0; i < units; ++i) {
            const unsigned lo = p[2 * i + (le ? 0 : 1)];
            const unsigned hi = p[2 * i + (le ? 1 : 0)];
            u[static_cast<std::size_t>(i)] = static_cast<char16_t>(lo | (hi << 8));
        }
        return {le ? Encoding::Utf16LE : Encoding::Utf16BE, unitsToUtf8(u.data(), units)};
    }
    return {Encoding::Ansi, std::move(file)};
}

QByteArray encodeFile(const Text& text) {
    switch (text.encoding) {
    case Encoding::Ansi:
        return text.bytes;
    case Encoding::Utf8:
        return QByteArray(kUtf8Bom, 3) + text.bytes;
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: {
        const bool le = text.encoding == Encoding::Utf16LE;
        const QString units =
            utf8ToUnits(std::string_view(text.bytes.constData(), static_cast<std::size_t>(text.bytes.size())));
        QByteArray out;
        out.reserve(2 + 2 * units.size());
        out.append(le ? "\xFF\xFE" : "\xFE\xFF", 2);
        for (const QChar c : units) {
            const char lo = static_cast<char>(c.unicode() & 0xFF);
            const char hi = static_cast<char>(c.unicode() >> 8);
            out.append(le ? lo : hi);
            out.append(le ? hi : lo);
        }
        return out;
    }
    }
    return text.bytes;
}

QByteArray toText(const QString& s, Encoding e) {
    if (e == Encoding::Ansi) {
        return toAnsi(s);
    }
    return unitsToUtf8(reinterpret_cast<const char16_t*>(s.utf16()), s.size());
}

QString fromText(std::string_view bytes, Encoding e) {
    return e == Encoding::Ansi ? fromAnsi(bytes) : utf8ToUnits(bytes);
}

bool equalsIgnoreCase(std::string_view a, std::string_view b, Encoding e) {
    if (e != Encoding::Ansi && a != b && !(isAscii(a) && isAscii(b))) {
        // Case folding can change a character's length in UTF-8, so compare the characters.
        return fromText(a, e).compare(fromText(b, e), Qt::CaseInsensitive) == 0;
    }
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (kFold[static_cast<unsigned char>(a[i])] != kFold[static_cast<unsigned char>(b[i])]) {
            return false;
        }
    }
    return true;
}

std::string_view cleanValue(std::string_view raw) {
    std::string_view v = trim(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

Line classify(std::string_view raw) {
    const std::string_view line = trim(raw);
    if (line.empty() || line.front() == ';') {
        return {};
    }
    if (line.front() == '[') {
        const std::size_t close = line.rfind(']');
        if (close != std::string_view::npos) {
            return {Line::Kind::Section, trim(line.substr(1, close - 1))};
        }
        return {};
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        return {};
    }
    const std::string_view key = trim(line.substr(0, eq));
    if (key.empty()) {
        return {};
    }
    return {Line::Kind::Key, key};
}

Index::Index(Text text) : m_encoding(text.encoding), m_bytes(std::move(text.bytes)) {
    const std::string_view all(m_bytes.constData(), static_cast<std::size_t>(m_bytes.size()));
    forEachLine(all, [this](RawLine raw) {
        const std::string_view line = raw.text;
        const Line l = classify(line);
        if (l.kind == Line::Kind::Section) {
            if (!m_sections.empty()) {
                m_sections.back().end = m_entries.size();
            }
            Section s;
            s.name = l.name;
            s.first = s.end = m_entries.size();
            m_sections.push_back(std::move(s));
        } else if (l.kind == Line::Kind::Key && !m_sections.empty()) {
            // Keys before the first section belong to no section and are never found.
            // A value ends at a NUL, as the platform's string copy ends there.
            std::string_view value = line.substr(line.find('=') + 1);
            value = value.substr(0, value.find('\0'));
            m_entries.push_back({l.name, value});
        }
    });
    if (!m_sections.empty()) {
        m_sections.back().end = m_entries.size();
    }
}

const Index::Entry* Index::findIn(const Section& s, std::string_view key) const {
    const std::size_t n = s.end - s.first;
    if (n <= kLinearLimit) {
        for (std::size_t i = s.first; i < s.end; ++i) {
            if (equalsIgnoreCase(m_entries[i].key, key, m_encoding)) {
                return &m_entries[i];
            }
        }
        return nullptr;
    }
    if (!s.byKey) {
        s.byKey = std::make_unique<std::unordered_map<std::string, std::size_t>>();
        s.byKey->reserve(n);
        for (std::size_t i = s.first; i < s.end; ++i) {
            s.byKey->try_emplace(folded(m_entries[i].key, m_encoding), i); // the first of equal keys wins
        }
    }
    const auto it = s.byKey->find(folded(key, m_encoding));
    return it == s.byKey->end() ? nullptr : &m_entries[it->second];
}

std::optional<std::string_view> Index::find(std::string_view section, std::string_view key) const {
    for (const Section& s : m_sections) {
        if (equalsIgnoreCase(s.name, section, m_encoding)) {
            if (const Entry* e = findIn(s, key)) {
                return cleanValue(e->value);
            }
        }
    }
    return std::nullopt;
}

QByteArray storedKey(QByteArray name) {
    const qsizetype nul = name.indexOf('\0');
    if (nul >= 0) {
        name.truncate(nul);
    }
    const std::string_view trimmed = trim(std::string_view(name.constData(), static_cast<std::size_t>(name.size())));
    QByteArray out;
    out.reserve(static_cast<qsizetype>(trimmed.size()));
    auto escape = [&out](char c) {
        static constexpr char hex[] = "0123456789ABCDEF";
        out.append('%');
        out.append(hex[(static_cast<unsigned char>(c) >> 4) & 0xF]);
        out.append(hex[static_cast<unsigned char>(c) & 0xF]);
    };
    auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); };
    for (std::size_t i = 0; i < trimmed.size(); ++i) {
        const char c = trimmed[i];
        // A '%' that would read as an escape is escaped itself: otherwise the names "A=B" and
        // "A%3DB" share one stored key and a write of one overwrites the other. Any other '%'
        // stays as typed, so keys written by hand such as "100%" are still found.
        const bool percentLikeEscape =
            c == '%' && i + 2 < trimmed.size() && isHex(trimmed[i + 1]) && isHex(trimmed[i + 2]);
        if (c == '=' || c == '\r' || c == '\n' || percentLikeEscape || (i == 0 && (c == '[' || c == ';'))) {
            escape(c);
        } else {
            out.append(c);
        }
    }
    return out;
}

Text applyWrite(const Text& original, std::string_view section, std::string_view key, std::string_view value) {
    const Encoding enc = original.encoding;
    std::vector<RawLine> lines;
    const std::string_view text(original.bytes.constData(), static_cast<std::size_t>(original.bytes.size()));
    forEachLine(text, [&lines](RawLine l) { lines.push_back(l); });

    // New lines end as the file's lines do; Windows ends them CR LF.
    std::string_view newEnd = "\r\n";
    for (const RawLine& l : lines) {
        if (!l.end.empty()) {
            newEnd = l.end;
            break;
        }
    }

    // The key's first line in any section of that name is replaced; a new key goes after the
    // last key line of the first section of that name.
    constexpr auto kNone = static_cast<std::size_t>(-1);
    std::size_t replaceAt = kNone;
    std::size_t firstSection = kNone;
    std::size_t lastKeyOfFirst = kNone;
    bool inTarget = false;
    bool inFirst = false;
    for (std::size_t i = 0; i < lines.size() && replaceAt == kNone; ++i) {
        const Line l = classify(lines[i].text);
        if (l.kind == Line::Kind::Section) {
            inTarget = equalsIgnoreCase(l.name, section, enc);
            inFirst = inTarget && firstSection == kNone;
            if (inFirst) {
                firstSection = i;
            }
        } else if (inTarget && l.kind == Line::Kind::Key) {
            if (equalsIgnoreCase(l.name, key, enc)) {
                replaceAt = i;
            } else if (inFirst) {
                lastKeyOfFirst = i;
            }
        }
    }

    std::string added; // the new lines, each with its end
    auto addLine = [&added, newEnd](std::string_view a, std::string_view b = {}, std::string_view c = {}) {
        added.append(a).append(b).append(c).append(newEnd);
    };
    std::size_t insertAt = lines.size();
    if (replaceAt == kNone) {
        if (firstSection != kNone) {
            insertAt = lastKeyOfFirst != kNone ? lastKeyOfFirst + 1 : firstSection + 1;
        } else {
            addLine("[", section, "]");
        }
        addLine(key, "=", value);
    }

    Text out{enc, {}};
    out.bytes.reserve(original.bytes.size() + static_cast<qsizetype>(added.size() + key.size() + value.size()) + 8);
    auto put = [&out](std::string_view s) { out.bytes.append(s.data(), static_cast<qsizetype>(s.size())); };
    for (std::size_t i = 0; i <= lines.size(); ++i) {
        if (i == insertAt && !added.empty()) {
            // The line before may be the file's last, without an end of its own.
            if (i > 0 && lines[i - 1].end.empty()) {
                put(newEnd);
            }
            put(added);
        }
        if (i == lines.size()) {
            break;
        }
        if (i == replaceAt) {
            // A replaced key keeps the spelling it has in the file and its line end; only its
            // value changes.
            put(classify(lines[i].text).name);
            put("=");
            put(value);
        } else {
            put(lines[i].text);
        }
        put(lines[i].end);
    }
    return out;
}

} // namespace profile
} // namespace core
} // namespace airmesh
