#pragma once

#include "core/errors.h"

#include <QString>

namespace airmesh {
inline namespace simlink {
namespace dp {

// Result codes of the session layer (32-bit HRESULTs, as DirectPlay 4 reports them).
inline constexpr qint32 hr(quint32 v) {
    return static_cast<qint32>(v);
}
inline constexpr qint32 DP_OK = 0;
inline constexpr qint32 DPERR_ALREADYINITIALIZED = hr(0x88770005);
inline constexpr qint32 DPERR_ACCESSDENIED = hr(0x8877000A);
inline constexpr qint32 DPERR_CANTCREATEPLAYER = hr(0x8877003C);
inline constexpr qint32 DPERR_GENERIC = hr(0x80004005);
inline constexpr qint32 DPERR_INVALIDFLAGS = hr(0x88770078);
inline constexpr qint32 DPERR_INVALIDOBJECT = hr(0x88770082);
inline constexpr qint32 DPERR_INVALIDPARAMS = hr(0x80070057);
inline constexpr qint32 DPERR_INVALIDPLAYER = hr(0x88770096);
inline constexpr qint32 DPERR_INVALIDGROUP = hr(0x8877009B);
inline constexpr qint32 DPERR_NOCONNECTION = hr(0x887700AA);
inline constexpr qint32 DPERR_NOMESSAGES = hr(0x887700BE);
inline constexpr qint32 DPERR_NOSESSIONS = hr(0x887700DC);
inline constexpr qint32 DPERR_SENDTOOBIG = hr(0x887700E6);
inline constexpr qint32 DPERR_TIMEOUT = hr(0x887700F0);
inline constexpr qint32 DPERR_UNAVAILABLE = hr(0x887700FA);
inline constexpr qint32 DPERR_UNSUPPORTED = hr(0x80004001);
inline constexpr qint32 DPERR_USERCANCEL = hr(0x88770118);
inline constexpr qint32 DPERR_CANNOTCREATESERVER = hr(0x88770122);
inline constexpr qint32 DPERR_SESSIONLOST = hr(0x88770136);
inline constexpr qint32 DPERR_UNINITIALIZED = hr(0x88770140);
inline constexpr qint32 DPERR_NONEWPLAYERS = hr(0x8877014A);
inline constexpr qint32 DPERR_INVALIDPASSWORD = hr(0x88770154);
inline constexpr qint32 DPERR_CONNECTING = hr(0x8877015E);
inline constexpr qint32 DPERR_CONNECTIONLOST = hr(0x88770168);
inline constexpr qint32 DPERR_AUTHENTICATIONFAILED = hr(0x887707D0);
inline constexpr qint32 DPERR_CANTLOADSSPI = hr(0x887707DA);
inline constexpr qint32 DPERR_ENCRYPTIONFAILED = hr(0x887707E4);
inline constexpr qint32 DPERR_SIGNFAILED = hr(0x887707EE);
inline constexpr qint32 DPERR_CANTLOADCAPI = hr(0x8877080C);
inline constexpr qint32 DPERR_LOGONDENIED = hr(0x88770820);

// The name of a code the join reports by name ("DPERR_TIMEOUT"), or empty for any other.
QString joinErrorName(qint32 code);

// A failing session operation; its error lines show the result code.
class DpError : public NumberedError {
public:
    explicit DpError(qint32 code, const char* what = "session operation failed") : NumberedError(code, what) {}
    qint32 code() const { return static_cast<qint32>(number()); }
};

// Session-layer notices: what Receive hands over with sender 0; the first 32-bit field.
enum class SysMsg : qint32 {
    CreatePlayerOrGroup = 0x0003,
    DestroyPlayerOrGroup = 0x0005,
    AddPlayerToGroup = 0x0007,
    DeletePlayerFromGroup = 0x0021,
    SessionLost = 0x0031,
    Host = 0x0101,
    SetPlayerOrGroupData = 0x0102,
    SetPlayerOrGroupName = 0x0103,
    SetSessionDesc = 0x0104,
};

} // namespace dp
} // namespace simlink
} // namespace airmesh
