#include "dperr.h"

#include <array>
#include <utility>

namespace airmesh {
inline namespace simlink {
namespace dp {

QString joinErrorName(qint32 code) {
    static constexpr std::array<std::pair<qint32, const char*>, 21> kNames = {{
        {DPERR_ALREADYINITIALIZED, "DPERR_ALREADYINITIALIZED"},
        {DPERR_INVALIDPARAMS, "DPERR_INVALIDPARAMS"},
        {DPERR_ACCESSDENIED, "DPERR_ACCESSDENIED"},
        {DPERR_CANTCREATEPLAYER, "DPERR_CANTCREATEPLAYER"},
        {DPERR_INVALIDFLAGS, "DPERR_INVALIDFLAGS"},
        {DPERR_NOCONNECTION, "DPERR_NOCONNECTION"},
        {DPERR_NOSESSIONS, "DPERR_NOSESSIONS"},
        {DPERR_TIMEOUT, "DPERR_TIMEOUT"},
        {DPERR_USERCANCEL, "DPERR_USERCANCEL"},
        {DPERR_CANNOTCREATESERVER, "DPERR_CANNOTCREATESERVER"},
        {DPERR_UNINITIALIZED, "DPERR_UNINITIALIZED"},
        {DPERR_NONEWPLAYERS, "DPERR_NONEWPLAYERS"},
        {DPERR_INVALIDPASSWORD, "DPERR_INVALIDPASSWORD"},
        {DPERR_CONNECTING, "DPERR_CONNECTING"},
        {DPERR_CONNECTIONLOST, "DPERR_CONNECTIONLOST"},
        {DPERR_AUTHENTICATIONFAILED, "DPERR_AUTHENTICATIONFAILED"},
        {DPERR_CANTLOADSSPI, "DPERR_CANTLOADSSPI"},
        {DPERR_ENCRYPTIONFAILED, "DPERR_ENCRYPTIONFAILED"},
        {DPERR_SIGNFAILED, "DPERR_SIGNFAILED"},
        {DPERR_CANTLOADCAPI, "DPERR_CANTLOADCAPI"},
        {DPERR_LOGONDENIED, "DPERR_LOGONDENIED"},
    }};
    for (const auto& [c, name] : kNames) {
        if (c == code) {
            return QString::fromLatin1(name);
        }
    }
    return {};
}

} // namespace dp
} // namespace simlink
} // namespace airmesh
