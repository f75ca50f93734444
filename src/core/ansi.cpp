#include "ansi.h"

#include <array>

namespace airmesh {
inline namespace core {

namespace {

// 0x80..0x9F of Windows-1252; the five unassigned bytes map to their C1 control points,
// as Windows' own MultiByteToWideChar does, so that every byte survives a round trip.
constexpr std::array<char16_t, 32> kHighTable = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

QChar fromAnsiChar(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0) {
        return {kHighTable[byte - 0x80]};
    }
    return {static_cast<char16_t>(byte)};
}

char toAnsiChar(QChar ch) {
    const char16_t u = ch.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
        return static_cast<char>(u);
    }
    for (std::size_t i = 0; i < kHighTable.size(); ++i) {
        if (kHighTable[i] == u) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

QString fromAnsi(std::string_view bytes) {
    QString out(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* dst = out.data();
    for (const char c : bytes) {
        *dst++ = fromAnsiChar(static_cast<unsigned char>(c));
    }
    return out;
}

QByteArray toAnsi(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A character beyond 16 bits is one character the code page lacks: one '?', not one
        // for each half of its surrogate pair.
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            out.append('?');
            continue;
        }
        out.append(toAnsiChar(text[i]));
    }
    return out;
}

} // namespace core
} // namespace airmesh
