// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gpib32/GpibBackend.h"
#include "gpib32/PrologixLink.h"

#include <chrono>
#include <mutex>
#include <string>

namespace gpib32 {

// Board 0 through a Prologix GPIB adapter (USB or Ethernet) in controller
// mode: every NI-488.2 call that gpib-32 passes on, said in the adapter's
// "++" commands.
//
// At open: ++savecfg 0 (so that the addresses set for each call do not wear
// the adapter's EEPROM), ++mode 1, ++auto 0, ++eoi 1, ++eos 3 (data goes out
// as given, EOI with its last byte), ++eot_enable 1 with ++eot_char 4,
// ++read_tmo_ms, then ++ver. Before each device call ++addr with the primary
// (and secondary) address. Data bytes CR, LF, ESC and '+' go out escaped by
// ESC, each message ended by an unescaped LF.
//
// Reading: "++read eoi" makes the adapter read until the instrument asserts
// EOI, or until no byte came for read_tmo_ms (1 to 3000 ms), and send what
// it read unchanged, with nothing to say which of the two ended it. With
// eot_enable on it adds the byte ASCII EOT (4) after the byte that came with
// EOI: so a reply is complete, with END, when the stream stops right after an
// EOT; it stopped without END when nothing more comes for read_tmo_ms and a
// little more without that EOT (then the read is asked again until the
// time-out of the call has passed, and ends with ERR and TIMO, EABO, the
// bytes that came counted). An EOT inside the payload of a definite block
// (#<d><length>) is known to be data; one elsewhere (text, an indefinite
// block) that the instrument follows with a pause longer than MARK_QUIET_MS
// would be taken for the end: the one case the adapter's protocol leaves
// open.
//
// The adapter cannot tell that no device listens: a write to an empty
// address succeeds, and the read that follows times out. Serial polls are
// "++spoll"; device clear "++clr"; interface clear "++ifc"; the time-out
// "++read_tmo_ms" (the NI time-out, at most the adapter's 3000 ms, the read
// asked again for longer ones). SendCmds takes what the adapter can say
// (SDC, GET, GTL, LLO, with listen addresses, UNL, UNT and talk addresses)
// and refuses the rest with ECAP; the listener search (FindLstn) is left to
// serial polls.
//
// Its calls are in PrologixBackend.cpp; the adapter's "++" commands and its
// set-up in PrologixWire.cpp; reading and writing data in
// PrologixTransfer.cpp; serial polls, clears and the end of a reply still
// coming in PrologixClear.cpp.
class CPrologixBackend final : public CGpibBackend
{
public:
    static constexpr char EOT_MARK = 4;
    static constexpr int MARK_QUIET_MS = 30;
    // How much longer than read_tmo_ms the adapter may take to give up.
    static constexpr int ADAPTER_GRACE_MS = 100;
    static constexpr int MAX_ADAPTER_TIMEOUT_MS = 3000;

    // "prologix:..." names the adapter; anything else is a library.
    static constexpr char PREFIX[] = "prologix:";
    static constexpr std::size_t PREFIX_LENGTH = sizeof PREFIX - 1;
    static bool NamesAdapter(const char *text);

    // Where the adapter is: the value of TALLIX_GPIB_BACKEND without
    // "prologix:"; false with the reason.
    bool Configure(const std::string &location, std::string &reason);
    // "Prologix adapter on /dev/ttyUSB0", "Prologix adapter at host:1234".
    std::string Describe() const;
    Family GetFamily() const override { return FAMILY_PROLOGIX; }
    // The adapter's ++ver line; empty while it cannot be reached.
    std::string Version() override;
    bool HasListenerSearch() const override { return false; }

    GpibResult SendIFC(int board) override;
    GpibResult EnableRemote(int board, const Addr4882_t *addressList) override;
    GpibResult Send(int board, Addr4882_t address, const void *buffer, long count, int eotMode) override;
    GpibResult Receive(int board, Addr4882_t address, void *buffer, long count, int termination) override;
    GpibResult ReadStatusByte(int board, Addr4882_t address, short *result) override;
    GpibResult DevClear(int board, Addr4882_t address) override;
    GpibResult SendCmds(int board, const void *commands, long count) override;
    GpibResult FindLstn(int board, const Addr4882_t *padList, Addr4882_t *results, int limit) override;

    GpibResult IbFind(const char *name, int *ud) override;
    GpibResult IbDev(int board, int pad, int sad, int tmo, int eot, int eos, int *ud) override;
    GpibResult IbConfig(int ud, int option, int value) override;
    GpibResult IbAsk(int ud, int option, int *value) override;
    GpibResult IbOnl(int ud, int online) override;
    GpibResult IbTmo(int ud, int timeout) override;
    GpibResult IbWait(int ud, int mask) override;
    GpibResult IbRd(int ud, void *buffer, long count) override;
    GpibResult IbWrt(int ud, const void *buffer, long count) override;
    GpibResult IbWrtf(int ud, const char *path) override;
    GpibResult IbRsp(int ud, char *status) override;
    GpibResult IbClr(int ud) override;

private:
    using Clock = std::chrono::steady_clock;

    struct Handle
    {
        bool used = false;
        bool board = false;
        int pad = 0;
        int sad = 0; // 0, or 0x60 to 0x7E
        int timeout = DEFAULT_TIMEOUT_CODE;
        bool eot = true;
        // The status byte that a wait for RQS polled, for the next ibrsp;
        // -1: none.
        int polledStatus = -1;
    };
    static constexpr int MAX_HANDLES = 64;
    // The NI time-out code of a new descriptor: T10s.
    static constexpr int DEFAULT_TIMEOUT_CODE = 13;
    static constexpr int FIRST_DEVICE = 16;
    // NI-488.2 time-out codes in milliseconds; 0 is none.
    static constexpr int TIMEOUT_MS[] = {0,   1,   1,    1,    1,     1,     3,      10,     30,
                                         100, 300, 1000, 3000, 10000, 30000, 100000, 300000, 1000000};

    // The reply the adapter is sending, or has sent and not all given out.
    struct Incoming
    {
        bool active = false;
        Addr4882_t address = 0;
        std::string bytes;
        std::size_t taken = 0;
        // Bytes of the reply dropped from the front of `bytes`.
        std::size_t dropped = 0;
        // Whether the reply's start has shown if it is a definite block, and
        // where its payload ends (counted from the reply's first byte).
        bool headerKnown = false;
        long long blockEnd = -1;
        bool ended = false; // the adapter stopped sending
        bool eoi = false;   // ... at the instrument's EOI
        Clock::time_point lastByte;
    };

    // Connects and sets the adapter up when it is not; false with the
    // failure in `result`.
    bool Ready(GpibResult &result);
    GpibResult LinkFailure(int code);
    bool Command(const std::string &line, GpibResult &result);
    // Sends `command` and reads the one line it answers; false with the
    // failure (TIMO when nothing came).
    bool Query(const std::string &command, std::string &line, GpibResult &result);
    bool SetAddress(Addr4882_t address, GpibResult &result);
    bool UseTimeout(GpibResult &result);
    // Reads (and throws away) the rest of a reply still coming, so that the
    // next command's answer is not mixed with it; for at most DrainLimitMs(),
    // then the device is silenced.
    bool EndIncoming(GpibResult &result);
    // Device clear of `address` while the adapter may still be reading: what
    // comes is dropped until the stream is quiet, for at most DrainLimitMs();
    // an adapter that still sends then is reached afresh.
    bool Silence(Addr4882_t address, GpibResult &result);
    // How long the rest of a reply may take to be thrown away: the call's
    // time-out, and at least the adapter's own to give up.
    int DrainLimitMs() const;
    // One wait for the reply coming in: takes what comes, or decides that it
    // ended (the mark stood, or the adapter gave up after `deadline`), or
    // asks again; false on a link failure.
    bool Step(Clock::time_point deadline, GpibResult &result);
    void Take(const char *data, std::size_t size);
    // Whether the last byte held may be the adapter's end mark.
    bool MarkLast() const;
    // Drops what comes until the stream has been quiet for `quietMs`, for
    // at most `limitMs`; `quiet` tells which ended it.
    bool Drain(int quietMs, int limitMs, GpibResult &result, bool *quiet = nullptr);
    // The NI time-out of the call under way (m_timeoutCode), in ms; 0 none.
    int TimeoutMs() const;
    int AdapterTimeoutMs() const;
    Handle *Device(int ud, GpibResult &result);
    const Handle *DeviceCall(int ud, GpibResult &result);
    static Addr4882_t DeviceAddress(const Handle &handle);
    // "14", or "14 96" with a secondary address, as ++addr and ++spoll take it.
    static std::string AddressText(Addr4882_t address);
    static bool ValidAddress(Addr4882_t address);

    // The calls themselves, with m_lock held and m_timeoutCode set.
    GpibResult SendLocked(Addr4882_t address, const void *buffer, long count, int eotMode);
    GpibResult ReceiveLocked(Addr4882_t address, void *buffer, long count, int termination);
    GpibResult PollLocked(Addr4882_t address, short *status);
    GpibResult ClearLocked(Addr4882_t address);

    static GpibResult Done(long count = 0, int extra = 0);
    static GpibResult Refused(int error);

    std::mutex m_lock;
    CPrologixLink m_link;
    bool m_ready = false;
    bool m_reported = false;
    std::string m_version;
    int m_adapterTimeout = -1;
    int m_timeoutCode = DEFAULT_TIMEOUT_CODE;
    int m_adapterEoi = -1;
    Incoming m_in;
    Handle m_handles[MAX_HANDLES] = {{true, true, 0, 0, DEFAULT_TIMEOUT_CODE, true}};
};

} // namespace gpib32
