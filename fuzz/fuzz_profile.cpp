// Settings and aircraft files in every encoding: any bytes parse without harm, a file decodes
// and encodes back to its own bytes, and a write followed by a read gives back what was written
// while every other key keeps its value.
#include "core/profile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using namespace airmesh::profile;

namespace {
std::string_view view(const QByteArray& b) {
    return {b.constData(), static_cast<std::size_t>(b.size())};
}

// A section or value the writer accepts: no line breaks, no NUL, no ']' in a section name.
std::string clean(std::string_view s, bool section) {
    std::string out;
    for (const char c : s) {
        if (c != '\r' && c != '\n' && c != '\0' && !(section && (c == ']' || c == '['))) {
            out += c;
        }
    }
    return out;
}

// The (section, key) names of the file's key lines, split and classified independently of the
// engine's own line walk. Capped: the check against them is quadratic.
std::vector<std::pair<std::string, std::string>> namesOf(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> out;
    std::string section;
    bool inSection = false;
    std::size_t pos = 0;
    while (pos < text.size() && out.size() < 64) {
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        const Line l = classify(text.substr(pos, end - pos));
        if (l.kind == Line::Kind::Section) {
            section = l.name;
            inSection = true;
        } else if (l.kind == Line::Kind::Key && inSection) {
            out.emplace_back(section, l.name);
        }
        pos = end + 1;
    }
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    // Layout: three length bytes, then section, key, value, then the file.
    const std::size_t ls = data[0] % 16, lk = data[1] % 24, lv = data[2] % 40;
    if (size < 3 + ls + lk + lv) {
        return 0;
    }
    const char* p = reinterpret_cast<const char*>(data) + 3;
    const std::string section = clean(std::string_view(p, ls), true);
    const QByteArray key = storedKey(QByteArray(p + ls, static_cast<qsizetype>(lk)));
    const std::string value = clean(std::string_view(p + ls + lk, lv), false);
    const QByteArray file(p + ls + lk + lv, static_cast<qsizetype>(size - 3 - ls - lk - lv));

    const Text text = decodeFile(file);
    // Decoding loses nothing but the odd last byte of a UTF-16 file.
    const bool utf16 = text.encoding == Encoding::Utf16LE || text.encoding == Encoding::Utf16BE;
    if (encodeFile(text) != (utf16 && file.size() % 2 == 1 ? file.chopped(1) : file)) {
        std::abort();
    }
    const Index before(text);
    (void)before.find(section, view(key));
    (void)fromText(view(text.bytes), text.encoding);

    const std::string_view trimmedSection = cleanValue(section); // trims blanks the way names are trimmed
    if (trimmedSection.empty() || trimmedSection != section || key.isEmpty()) {
        return 0;
    }
    const Text written = applyWrite(text, section, view(key), value);
    const Index after(written);
    const auto got = after.find(section, view(key));
    if (!got || *got != cleanValue(value) || written.encoding != text.encoding) {
        std::abort(); // a write that does not read back
    }
    for (const auto& [s, k] : namesOf(view(text.bytes))) {
        if (equalsIgnoreCase(s, section, text.encoding) && equalsIgnoreCase(k, view(key), text.encoding)) {
            continue;
        }
        if (before.find(s, k) != after.find(s, k)) {
            std::abort(); // a write that changed another key
        }
    }
    return 0;
}
