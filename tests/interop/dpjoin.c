/* dpjoin.c - DirectPlay 4 test joiner (Windows console program, run under Wine)
 *
 * Enumerates sessions at <ip> (default 127.0.0.1) for application GUID
 * {97C62470-5F53-4098-A8BB-7F1F93B94D93}, joins the first one, creates player
 * "Airmesh"/"Airmesh Observer", sends 4098 to DPID_ALLPLAYERS, waits up to 5 s for 4100,
 * sends 4111 to the player that answered (the host's player), prints everything it
 * receives for <seconds> (default 5), then (unless "nogroup") adds itself to group
 * FS61_REQUEST_PARAMS, waits 1 s, and leaves (DestroyPlayer, Close). The search lasts <enum-ms>
 * (default 3000).
 * Each event line starts with "[seconds since start]", indented lines add detail (hex dumps,
 * player lists). Received messages are "RECV APP" (application data, msg=<first 4 bytes as a
 * number>) or "RECV SYS" (DirectPlay system messages).
 * Usage: dpjoin.exe [seconds] [ip] [nogroup|group] [enum-ms]
 */
#define INITGUID
#include "dpcommon.h"

static IDirectPlay4A *g_dp;
static DPSESSIONDESC2 g_found;
static int g_nfound;
static DPID g_req_group;

static BOOL FAR PASCAL enum_sess_cb(LPCDPSESSIONDESC2 sd, LPDWORD timeout, DWORD flags, LPVOID ctx)
{
    (void)timeout; (void)ctx;
    if (flags & DPESC_TIMEDOUT) {
        printf("[%7.3f] EnumSessions callback: timed out\n", now_s());
        return FALSE;
    }
    printf("[%7.3f] SESSION \"%s\" flags=0x%lx players=%lu/%lu instance={%08lx-...}\n", now_s(),
           sd->lpszSessionNameA ? sd->lpszSessionNameA : "(null)", (unsigned long)sd->dwFlags,
           (unsigned long)sd->dwCurrentPlayers, (unsigned long)sd->dwMaxPlayers,
           (unsigned long)sd->guidInstance.Data1);
    if (!g_nfound) {
        g_found = *sd;
        g_found.lpszSessionNameA = NULL;
        g_found.lpszPasswordA = NULL;
    }
    g_nfound++;
    return TRUE;
}

static BOOL FAR PASCAL enum_players_cb(DPID id, DWORD type, LPCDPNAME name, DWORD flags, LPVOID ctx)
{
    (void)ctx;
    printf("          %s 0x%08lx flags=0x%lx \"%s\"\n", type == DPPLAYERTYPE_GROUP ? "group " : "player",
           (unsigned long)id, (unsigned long)flags,
           name && name->lpszShortNameA ? name->lpszShortNameA : "?");
    if (type == DPPLAYERTYPE_GROUP && name && name->lpszShortNameA &&
        !strcmp(name->lpszShortNameA, "FS61_REQUEST_PARAMS"))
        g_req_group = id;
    return TRUE;
}

static BYTE *g_buf;
static DWORD g_bufsize = 65536;

/* Receive and print for `secs`; returns sender id of the first message `want` (0 if none). */
static DPID pump(double secs, int want, int stop_on_want)
{
    double end = now_s() + secs;
    DPID got = 0;
    while (now_s() < end) {
        DPID from = 0, to = 0;
        DWORD size = g_bufsize;
        HRESULT hr = IDirectPlayX_Receive(g_dp, &from, &to, DPRECEIVE_ALL, g_buf, &size);
        if (hr == DP_OK) {
            int num = print_message(from, to, g_buf, size);
            if (from != DPID_SYSMSG && num == want && !got) {
                got = from;
                if (stop_on_want) return got;
            }
            continue;
        }
        if (hr == DPERR_BUFFERTOOSMALL) { g_bufsize = size * 2; free(g_buf); g_buf = malloc(g_bufsize); continue; }
        if (hr != DPERR_NOMESSAGES) CHECK("Receive", hr);
        Sleep(10);
    }
    return got;
}

int main(int argc, char **argv)
{
    int seconds = argc > 1 ? atoi(argv[1]) : 5;
    const char *ip = argc > 2 ? argv[2] : "127.0.0.1";
    int do_group = !(argc > 3 && !strcmp(argv[3], "nogroup"));
    int enum_ms = argc > 4 ? atoi(argv[4]) : 3000;
    DPSESSIONDESC2 sd;
    DPNAME name;
    DPID me = 0, host;
    HRESULT hr;
    int hello[2] = { MSG_HELLO, 0 };
    int req[2] = { MSG_AIRCRAFT_REQ, 0 };

    setvbuf(stdout, NULL, _IONBF, 0);
    now_s();
    printf("[%7.3f] dpjoin start (%d-bit), ip %s\n", now_s(), (int)(sizeof(void *) * 8), ip);
    g_buf = malloc(g_bufsize);
    hr = CoInitialize(NULL);
    CHECK("CoInitialize", hr);
    g_dp = make_dplay(ip);
    if (!g_dp) return 1;

    memset(&sd, 0, sizeof(sd));
    sd.dwSize = sizeof(sd);
    sd.guidApplication = APP_GUID;
    hr = IDirectPlayX_EnumSessions(g_dp, &sd, (DWORD)enum_ms, enum_sess_cb, NULL, DPENUMSESSIONS_ALL);
    {
        char what[48];
        snprintf(what, sizeof what, "EnumSessions(ALL, %d ms)", enum_ms);
        CHECK(what, hr);
    }
    if (!g_nfound) { printf("no session found\n"); return 2; }

    g_found.dwSize = sizeof(g_found);
    hr = IDirectPlayX_Open(g_dp, &g_found, DPOPEN_JOIN);
    CHECK("Open(DPOPEN_JOIN)", hr);
    if (FAILED(hr)) return 3;

    memset(&name, 0, sizeof(name));
    name.dwSize = sizeof(name);
    name.lpszShortNameA = "Airmesh";
    name.lpszLongNameA = "Airmesh Observer";
    hr = IDirectPlayX_CreatePlayer(g_dp, &me, &name, NULL, NULL, 0, 0);
    CHECK("CreatePlayer(\"Airmesh\")", hr);
    if (FAILED(hr)) return 4;
    printf("          my player id=0x%08lx\n", (unsigned long)me);
    printf("[%7.3f] players/groups known after join:\n", now_s());
    IDirectPlayX_EnumPlayers(g_dp, NULL, enum_players_cb, NULL, 0);
    IDirectPlayX_EnumGroups(g_dp, NULL, enum_players_cb, NULL, 0);

    hr = IDirectPlayX_Send(g_dp, me, DPID_ALLPLAYERS, DPSEND_GUARANTEED, hello, sizeof(hello));
    printf("[%7.3f] SEND 4098 (0x1002) to=ALLPLAYERS -> 0x%08lx %s\n", now_s(), (unsigned long)hr, hr_name(hr));

    host = pump(5.0, MSG_HELLO_ACK, 1);
    if (!host) {
        printf("[%7.3f] no 4100 received\n", now_s());
    } else {
        printf("[%7.3f] got 4100 from host player 0x%08lx\n", now_s(), (unsigned long)host);
        hr = IDirectPlayX_Send(g_dp, me, host, DPSEND_GUARANTEED, req, sizeof(req));
        printf("[%7.3f] SEND 4111 (0x100F) to=0x%08lx -> 0x%08lx %s\n", now_s(), (unsigned long)host,
               (unsigned long)hr, hr_name(hr));
    }
    pump((double)seconds, -2, 0);

    if (do_group && g_req_group) {
        hr = IDirectPlayX_AddPlayerToGroup(g_dp, g_req_group, me);
        printf("[%7.3f] AddPlayerToGroup(FS61_REQUEST_PARAMS=0x%08lx, me) -> 0x%08lx %s\n", now_s(),
               (unsigned long)g_req_group, (unsigned long)hr, hr_name(hr));
        pump(1.0, -2, 0);
    }

    hr = IDirectPlayX_DestroyPlayer(g_dp, me);
    CHECK("DestroyPlayer", hr);
    hr = IDirectPlayX_Close(g_dp);
    CHECK("Close", hr);
    IDirectPlayX_Release(g_dp);
    CoUninitialize();
    printf("[%7.3f] dpjoin exit\n", now_s());
    return 0;
}
