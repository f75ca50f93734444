// Settings and aircraft files: any bytes parse without harm, and a write followed by a read
// gives back what was written while every other key keeps its value.
#include "core/profile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

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

    const Index before(file);
    (void)before.find(section, view(key));

    const std::string_view trimmedSection = cleanValue(section); // trims blanks the way names are trimmed
    if (trimmedSection.empty() || trimmedSection != section || key.isEmpty()) {
        return 0;
    }
    const QByteArray written = applyWrite(file, section, view(key), value);
    const Index after(written);
    const auto got = after.find(section, view(key));
    if (!got || *got != cleanValue(value)) {
        std::abort(); // a write that does not read back
    }
    return 0;
}
