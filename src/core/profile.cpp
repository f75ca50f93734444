#include "profile.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace airmesh::profile {

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

std::string folded(std::string_view s) {
    std::string out(s.size(), '\0');
    for (std::size_t i = 0; i < s.size(); ++i) {
        out[i] = static_cast<char>(kFold[static_cast<unsigned char>(s[i])]);
    }
    return out;
}

// Sections at or below this size are searched line by line; above it a hash index pays.
constexpr std::size_t kLinearLimit = 24;

template <typename F> void forEachLine(std::string_view text, F&& f) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const void* nl = std::memchr(text.data() + pos, '\n', text.size() - pos);
        const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) : text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        f(line);
        pos = end + 1;
    }
}

} // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
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

Index::Index(QByteArray bytes) : m_bytes(std::move(bytes)) {
    const std::string_view text(m_bytes.constData(), static_cast<std::size_t>(m_bytes.size()));
    forEachLine(text, [this](std::string_view line) {
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
            const std::size_t eq = line.find('=');
            m_entries.push_back({l.name, line.substr(eq + 1)});
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
            if (equalsIgnoreCase(m_entries[i].key, key)) {
                return &m_entries[i];
            }
        }
        return nullptr;
    }
    if (!s.byKey) {
        s.byKey = std::make_unique<std::unordered_map<std::string, std::size_t>>();
        s.byKey->reserve(n);
        for (std::size_t i = s.first; i < s.end; ++i) {
            s.byKey->try_emplace(folded(m_entries[i].key), i); // the first of equal keys wins
        }
    }
    const auto it = s.byKey->find(folded(key));
    return it == s.byKey->end() ? nullptr : &m_entries[it->second];
}

std::optional<std::string_view> Index::find(std::string_view section, std::string_view key) const {
    for (const Section& s : m_sections) {
        if (equalsIgnoreCase(s.name, section)) {
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

QByteArray applyWrite(const QByteArray& original, std::string_view section, std::string_view key,
                      std::string_view value) {
    std::vector<std::string_view> lines;
    const std::string_view text(original.constData(), static_cast<std::size_t>(original.size()));
    forEachLine(text, [&lines](std::string_view l) { lines.push_back(l); });

    const std::string newLineText = [&] {
        std::string s(key);
        s += '=';
        s += value;
        return s;
    }();

    // The key's first line in any section of that name is replaced; a new key goes after the
    // last key line of the first section of that name.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t replaceAt = kNone;
    std::size_t firstSection = kNone;
    std::size_t lastKeyOfFirst = kNone;
    bool inTarget = false;
    bool inFirst = false;
    for (std::size_t i = 0; i < lines.size() && replaceAt == kNone; ++i) {
        const Line l = classify(lines[i]);
        if (l.kind == Line::Kind::Section) {
            inTarget = equalsIgnoreCase(l.name, section);
            inFirst = inTarget && firstSection == kNone;
            if (inFirst) {
                firstSection = i;
            }
        } else if (inTarget && l.kind == Line::Kind::Key) {
            if (equalsIgnoreCase(l.name, key)) {
                replaceAt = i;
            } else if (inFirst) {
                lastKeyOfFirst = i;
            }
        }
    }
    const bool sectionFound = firstSection != kNone;
    const std::size_t insertAt = lastKeyOfFirst != kNone ? lastKeyOfFirst + 1 : firstSection + 1;

    // A replaced key keeps the spelling it has in the file; only its value changes.
    std::string replacedLineText;
    if (replaceAt != kNone) {
        replacedLineText = std::string(classify(lines[replaceAt]).name) + '=' + std::string(value);
    }

    QByteArray out;
    out.reserve(original.size() + static_cast<qsizetype>(newLineText.size() + section.size()) + 16);
    auto put = [&out](std::string_view l) {
        out.append(l.data(), static_cast<qsizetype>(l.size()));
        out.append("\r\n", 2);
    };
    if (replaceAt != kNone) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            put(i == replaceAt ? std::string_view(replacedLineText) : lines[i]);
        }
    } else if (sectionFound) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i == insertAt) {
                put(newLineText);
            }
            put(lines[i]);
        }
        if (insertAt == lines.size()) {
            put(newLineText);
        }
    } else {
        for (const std::string_view l : lines) {
            put(l);
        }
        std::string header = "[";
        header += section;
        header += ']';
        put(header);
        put(newLineText);
    }
    return out;
}

} // namespace airmesh::profile
