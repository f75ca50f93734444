#include "settings.h"

#include <algorithm>
#include <limits>

namespace airmesh {
inline namespace core {

QString readSetting(const INIFiles& ini, const SettingKey& key) {
    return ini.ReadINI(QLatin1String(key.section), QLatin1String(key.name), QLatin1String(key.defaultValue));
}

bool writeSetting(INIFiles& ini, const SettingKey& key, const QString& value) {
    return ini.WriteINI(QLatin1String(key.section), QLatin1String(key.name), value);
}

bool writeSetting(INIFiles& ini, const SettingKey& key, long long value) {
    return writeSetting(ini, key, QString::number(value));
}

int leadingNumber(const QString& text) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    for (; i < t.size() && t[i] >= QLatin1Char('0') && t[i] <= QLatin1Char('9'); ++i) {
        value = std::min<qint64>(value * 10 + (t[i].unicode() - u'0'), std::numeric_limits<int>::max());
    }
    return static_cast<int>(negative ? -value : value);
}

} // namespace core
} // namespace airmesh
