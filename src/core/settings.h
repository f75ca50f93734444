#pragma once

#include "inifiles.h"

#include <QString>

namespace airmesh {
inline namespace core {

// One key of the settings file: its section, its name and what it reads as when absent.
struct SettingKey {
    const char* section;
    const char* name;
    const char* defaultValue;
};

// Every key of the settings file, declared once; the callers read and write them here.
namespace setting {
inline constexpr const char* kGeneral = "General";
// The section of the user's aliases: one key per remote aircraft title, its value the local one.
inline constexpr const char* kAliasing = "Aliasing";

inline constexpr SettingKey FSDir{kGeneral, "FSDir", R"(c:\program files\microsoft games\fs2002\)"};
// The Connect button's entries, kept for the next start.
inline constexpr SettingKey HostIP{kGeneral, "HostIP", ""};
inline constexpr SettingKey PID{kGeneral, "PID", ""};
inline constexpr SettingKey PWD{kGeneral, "PWD", ""};
// The server's UDP port, ours, and the server's TCP port.
inline constexpr SettingKey HostConnectPort{kGeneral, "HostConnectPort", "1500"};
inline constexpr SettingKey ClientConnectPort{kGeneral, "ClientConnectPort", "1501"};
inline constexpr SettingKey ClientConnectTCP{kGeneral, "ClientConnectTCP", "1502"};
// The activity log's flags: absent, or neither a Boolean word nor a number, counts as on.
inline constexpr SettingKey Debug{kGeneral, "Debug", "-1"};
inline constexpr SettingKey DebugLowLevel{kGeneral, "DebugLowLevel", "-1"};
// Remote aircraft without an alias shown as the closest installed one.
inline constexpr SettingKey AutoMatch{kGeneral, "AutoMatch", "1"};
// The most remote pilots shown in the simulator at once; 0: as many as its session holds.
inline constexpr SettingKey MaxShown{kGeneral, "MaxShown", "0"};
// The Traffic window's place ("x,y,width,height") and whether it opens at start.
inline constexpr SettingKey TrafficWindow{kGeneral, "TrafficWindow", ""};
inline constexpr SettingKey TrafficOpen{kGeneral, "TrafficOpen", "0"};
// The Traffic window's scope: its range in nm ("auto" or 2 to 500), and the widths of the scope
// and the table beside it ("scope,table").
inline constexpr SettingKey TrafficRange{kGeneral, "TrafficRange", "auto"};
inline constexpr SettingKey TrafficSplit{kGeneral, "TrafficSplit", ""};
// The simulator's session host last typed at the address prompt.
inline constexpr SettingKey SessionHost{kGeneral, "SessionHost", "localhost"};
} // namespace setting

// The key's value as the settings file holds it, or its default.
QString readSetting(const INIFiles& ini, const SettingKey& key);
// Sets the key; returns whether the file now holds the value.
bool writeSetting(INIFiles& ini, const SettingKey& key, const QString& value);
bool writeSetting(INIFiles& ini, const SettingKey& key, long long value);

// A port or count setting: the leading decimal number of the text (sign allowed), 0 for a text
// without one. Values beyond 32 bits saturate, so that a port out of range is refused as such.
int leadingNumber(const QString& text);

} // namespace core
} // namespace airmesh
