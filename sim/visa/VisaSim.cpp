// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
//
// libtallix-visa-sim.so: a VISA library, written from the VISA C interface as
// the IVI Foundation publishes it (its types, status values and the calls
// below), with three simulated instruments that answer through the shared
// instrument model (sim/model):
//   TCPIP0::127.0.0.1::inst0::INSTR
//   GPIB0::<TALLIX_SIM_GPIB_ADDRESS, 14 unless set>::INSTR
//   USB0::0x1AB1::0x04CE::SIM0001::INSTR
// viOpen takes them in any case, with the board, "inst0" and "::INSTR" left
// out as VISA allows. Each instrument keeps its unread replies in order, as a
// transport would: a reply not read to its end is what the next viRead gets,
// until viClear drops it. viRead ends a reply at the instrument's END
// (VI_SUCCESS) and returns VI_SUCCESS_MAX_CNT when the caller's count is
// filled first. viFindRsrc takes VISA's expressions with ? and * (and +).
//
// Environment, read at each call:
//   TALLIX_SIM_VISA_TRACE        a file to which one line per call is
//                                appended, e.g. "viOpen GPIB0::14::INSTR 0
//                                5000", "viSetAttribute 0x3FFF001A 10000",
//                                "viWrite 7", "viRead 65536 -> 32
//                                0x00000000", "viClear", "viClose".
//   TALLIX_SIM_VISA_MAX_COUNT    the most one viRead returns, whatever the
//                                caller's count (to make a caller chain
//                                reads).
//   TALLIX_SIM_VISA_OPEN_STATUS  a status (0x... or decimal) with which every
//                                viOpen fails.
//   TALLIX_SIM_VISA_READ_TIMEOUT n: the n-th viRead of each session (counted
//                                from its viOpen) times out, leaving the
//                                reply where it was.
//   TALLIX_SIM_VISA_WAIT_MS      how long a viRead waits for a reply that
//                                never comes before VI_ERROR_TMO (default
//                                5 ms, at most the session's time-out).

#include "sim/model/InstrumentModel.h"
#include "sim/model/SimSupport.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#define VISASIM_EXPORT __attribute__((visibility("default")))

// The VISA C interface: the types and values this library needs.
using ViStatus = std::int32_t;
using ViUInt32 = std::uint32_t;
using ViUInt16 = std::uint16_t;
using ViSession = ViUInt32;
using ViObject = ViUInt32;
using ViFindList = ViObject;
using ViAttr = ViUInt32;
using ViAccessMode = ViUInt32;
// An attribute's value is as wide as a pointer: 64 bits on a 64-bit system.
using ViAttrState = std::uintptr_t;
using ViChar = char;

namespace {

constexpr ViStatus VI_SUCCESS = 0;
constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
constexpr ViStatus VI_WARN_UNKNOWN_STATUS = 0x3FFF0085;
constexpr ViStatus VI_ERROR_INV_OBJECT = static_cast<ViStatus>(0xBFFF000EU);
constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011U);
constexpr ViStatus VI_ERROR_INV_RSRC_NAME = static_cast<ViStatus>(0xBFFF0012U);
constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015U);
constexpr ViStatus VI_ERROR_NSUP_ATTR = static_cast<ViStatus>(0xBFFF001DU);
constexpr ViStatus VI_ERROR_RSRC_BUSY = static_cast<ViStatus>(0xBFFF0072U);
constexpr ViStatus VI_ERROR_INV_PARAMETER = static_cast<ViStatus>(0xBFFF0078U);
constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001A;
constexpr std::size_t VI_FIND_BUFLEN = 256;

constexpr const char *TRACE_VARIABLE = "TALLIX_SIM_VISA_TRACE";
constexpr long DEFAULT_WAIT_MS = 5;
constexpr ViUInt32 DEFAULT_TIMEOUT_MS = 2000;
constexpr int MAV = 0x10;

struct Instrument
{
    std::string resource; // as listed, and compared in capitals
    tallixsim::InstrumentModel model;
    std::string input;               // bytes of a command not yet ended
    std::deque<std::string> replies; // unread replies, oldest first
    std::size_t readPos = 0;         // how much of the oldest has been read
};

struct Session
{
    ViSession resourceManager = 0;
    std::size_t instrument = 0;
    ViUInt32 timeoutMs = DEFAULT_TIMEOUT_MS;
    long reads = 0;
};

struct FindList
{
    std::vector<std::string> found;
    std::size_t next = 0;
};

struct Library
{
    std::mutex lock;
    std::vector<Instrument> instruments;
    std::map<ViSession, bool> resourceManagers;
    std::map<ViSession, Session> sessions;
    std::map<ViFindList, FindList> findLists;
    ViUInt32 nextHandle = 0x100;

    Library()
    {
        instruments.resize(3);
        instruments[0].resource = "TCPIP0::127.0.0.1::inst0::INSTR";
        instruments[1].resource = "GPIB0::" + std::to_string(tallixsim::GpibInstrumentAddress()) + "::INSTR";
        instruments[2].resource = "USB0::0x1AB1::0x04CE::SIM0001::INSTR";
    }
};

Library &TheLibrary()
{
    static Library library;
    return library;
}

// A resource string as VISA means it: in capitals, the board written out,
// "inst0" for a LAN instrument without a device name, "::INSTR" at its end.
std::string Normalized(const std::string &text)
{
    std::string s = tallixsim::Upper(tallixsim::Trimmed(text));
    for (const char *name : {"TCPIP", "GPIB", "USB"}) {
        const std::string bare = std::string(name) + "::";
        if (s.rfind(bare, 0) == 0)
            s = std::string(name) + "0" + s.substr(std::strlen(name));
    }
    const std::string instr = "::INSTR";
    if (s.size() < instr.size() || s.compare(s.size() - instr.size(), instr.size(), instr) != 0)
        s += instr;
    if (s.rfind("TCPIP", 0) == 0) {
        std::size_t separators = 0;
        for (std::size_t at = s.find("::"); at != std::string::npos; at = s.find("::", at + 2))
            ++separators;
        if (separators == 2)
            s = s.substr(0, s.size() - instr.size()) + "::INST0" + instr;
    }
    return s;
}

bool LooksLikeResource(const std::string &text)
{
    const std::string s = tallixsim::Upper(tallixsim::Trimmed(text));
    for (const char *name : {"TCPIP", "GPIB", "USB", "ASRL", "VXI", "PXI"})
        if (s.rfind(name, 0) == 0)
            return true;
    return false;
}

// VISA's expressions: ? is any one character, * and + repeat what comes
// before them, \ takes the next character as it is; letters match in either
// case.
bool MatchHere(const char *pattern, const char *text)
{
    if (*pattern == '\0')
        return *text == '\0';
    bool any = false;
    char literal = *pattern;
    const char *after = pattern + 1;
    if (*pattern == '?') {
        any = true;
    } else if (*pattern == '\\' && pattern[1] != '\0') {
        literal = pattern[1];
        after = pattern + 2;
    }
    const auto matches = [&](char c) {
        return c != '\0' && (any || std::toupper(static_cast<unsigned char>(c)) ==
                                        std::toupper(static_cast<unsigned char>(literal)));
    };
    if (*after == '*' || *after == '+') {
        const char *t = text;
        if (*after == '+') {
            if (!matches(*t))
                return false;
            ++t;
        }
        for (;;) {
            if (MatchHere(after + 1, t))
                return true;
            if (!matches(*t))
                return false;
            ++t;
        }
    }
    return matches(*text) && MatchHere(after, text + 1);
}

void CopyOut(ViChar *desc, const std::string &text)
{
    if (!desc)
        return;
    const std::size_t n = std::min(text.size(), VI_FIND_BUFLEN - 1);
    std::memcpy(desc, text.data(), n);
    desc[n] = '\0';
}

ViUInt32 NewHandle(Library &library)
{
    return library.nextHandle++;
}

// Bytes to the instrument; each LF ends a command, and so does the END that
// comes with the last byte of every write.
void Deliver(Instrument &instrument, const char *data, std::size_t count)
{
    instrument.input.append(data, count);
    std::string line;
    std::size_t lf;
    while ((lf = instrument.input.find('\n')) != std::string::npos || !instrument.input.empty()) {
        if (lf == std::string::npos)
            lf = instrument.input.size() - 1;
        line = instrument.input.substr(0, lf + 1);
        instrument.input.erase(0, lf + 1);
        if (instrument.model.command(line))
            instrument.replies.push_back(instrument.model.take());
    }
}

const char *StatusText(ViStatus status)
{
    switch (status) {
    case VI_SUCCESS:
        return "The operation completed.";
    case VI_SUCCESS_TERM_CHAR:
        return "The read stopped at the termination character.";
    case VI_SUCCESS_MAX_CNT:
        return "The read filled the count it was given before the message ended.";
    case VI_ERROR_INV_OBJECT:
        return "The session or object given is not valid.";
    case VI_ERROR_RSRC_NFOUND:
        return "No resource of that name is present.";
    case VI_ERROR_INV_RSRC_NAME:
        return "The resource name is not valid.";
    case VI_ERROR_TMO:
        return "The time-out expired before the operation completed.";
    case VI_ERROR_NSUP_ATTR:
        return "The resource does not support this attribute.";
    case VI_ERROR_RSRC_BUSY:
        return "The resource is in use by another session.";
    case VI_ERROR_INV_PARAMETER:
        return "A parameter is not valid.";
    default:
        return nullptr;
    }
}

} // namespace

extern "C" {

VISASIM_EXPORT ViStatus viOpenDefaultRM(ViSession *vi)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viOpenDefaultRM");
    if (!vi)
        return VI_ERROR_INV_PARAMETER;
    Library &library = TheLibrary();
    std::lock_guard<std::mutex> guard(library.lock);
    *vi = NewHandle(library);
    library.resourceManagers[*vi] = true;
    return VI_SUCCESS;
}

VISASIM_EXPORT ViStatus viOpen(ViSession rm, const ViChar *name, ViAccessMode mode, ViUInt32 timeout,
                               ViSession *vi)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viOpen %s %u %u", name ? name : "(null)", mode, timeout);
    if (!name || !vi)
        return VI_ERROR_INV_PARAMETER;
    *vi = 0;
    const long forced = tallixsim::EnvNumber("TALLIX_SIM_VISA_OPEN_STATUS", 0);
    if (forced != 0)
        return static_cast<ViStatus>(static_cast<std::uint32_t>(forced));
    Library &library = TheLibrary();
    std::lock_guard<std::mutex> guard(library.lock);
    if (library.resourceManagers.count(rm) == 0)
        return VI_ERROR_INV_OBJECT;
    if (!LooksLikeResource(name))
        return VI_ERROR_INV_RSRC_NAME;
    const std::string wanted = Normalized(name);
    for (std::size_t i = 0; i < library.instruments.size(); ++i) {
        if (Normalized(library.instruments[i].resource) != wanted)
            continue;
        *vi = NewHandle(library);
        library.sessions[*vi] = Session{rm, i, DEFAULT_TIMEOUT_MS, 0};
        return VI_SUCCESS;
    }
    return VI_ERROR_RSRC_NFOUND;
}

VISASIM_EXPORT ViStatus viClose(ViObject vi)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viClose");
    Library &library = TheLibrary();
    std::lock_guard<std::mutex> guard(library.lock);
    if (library.sessions.erase(vi) > 0 || library.findLists.erase(vi) > 0)
        return VI_SUCCESS;
    if (library.resourceManagers.erase(vi) == 0)
        return VI_ERROR_INV_OBJECT;
    // Closing a resource manager closes every session it opened.
    for (auto it = library.sessions.begin(); it != library.sessions.end();)
        it = it->second.resourceManager == vi ? library.sessions.erase(it) : std::next(it);
    return VI_SUCCESS;
}

VISASIM_EXPORT ViStatus viSetAttribute(ViObject vi, ViAttr attribute, ViAttrState value)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viSetAttribute 0x%08X %llu", attribute,
                         static_cast<unsigned long long>(value));
    Library &library = TheLibrary();
    std::lock_guard<std::mutex> guard(library.lock);
    const auto it = library.sessions.find(vi);
    if (it == library.sessions.end())
        return VI_ERROR_INV_OBJECT;
    if (attribute != VI_ATTR_TMO_VALUE)
        return VI_ERROR_NSUP_ATTR;
    it->second.timeoutMs = static_cast<ViUInt32>(value);
    return VI_SUCCESS;
}

VISASIM_EXPORT ViStatus viGetAttribute(ViObject vi, ViAttr attribute, void *value)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viGetAttribute 0x%08X", attribute);
    Library &library = TheLibrary();
    std::lock_guard<std::mutex> guard(library.lock);
    const auto it = library.sessions.find(vi);
    if (it == library.sessions.end())
        return VI_ERROR_INV_OBJECT;
    if (attribute != VI_ATTR_TMO_VALUE)
        return VI_ERROR_NSUP_ATTR;
    if (!value)
        return VI_ERROR_INV_PARAMETER;
    std::memcpy(value, &it->second.timeoutMs, sizeof(ViUInt32));
    return VI_SUCCESS;
}

VISASIM_EXPORT ViStatus viWrite(ViSession vi, const unsigned char *buffer, ViUInt32 count, ViUInt32 *written)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viWrite %u", count);
    if (written)
        *written = 0;
    if (count > 0 && !buffer)
        return VI_ERROR_INV_PARAMETER;
    Library &library = TheLibrary();
    std::lock_guard<std::mutex> guard(library.lock);
    const auto it = library.sessions.find(vi);
    if (it == library.sessions.end())
        return VI_ERROR_INV_OBJECT;
    Deliver(library.instruments[it->second.instrument], reinterpret_cast<const char *>(buffer), count);
    if (written)
        *written = count;
    return VI_SUCCESS;
}

VISASIM_EXPORT ViStatus viRead(ViSession vi, unsigned char *buffer, ViUInt32 count, ViUInt32 *got)
{
    if (got)
        *got = 0;
    Library &library = TheLibrary();
    std::unique_lock<std::mutex> guard(library.lock);
    const auto it = library.sessions.find(vi);
    if (it == library.sessions.end() || (count > 0 && !buffer)) {
        tallixsim::TraceLine(TRACE_VARIABLE, "viRead %u -> 0 0x%08X", count, VI_ERROR_INV_OBJECT);
        return VI_ERROR_INV_OBJECT;
    }
    Session &session = it->second;
    Instrument &instrument = library.instruments[session.instrument];
    ++session.reads;
    const bool forcedTimeout = session.reads == tallixsim::EnvNumber("TALLIX_SIM_VISA_READ_TIMEOUT", 0);
    if (forcedTimeout || instrument.replies.empty()) {
        const long wait = std::min<long>(tallixsim::EnvNumber("TALLIX_SIM_VISA_WAIT_MS", DEFAULT_WAIT_MS),
                                         static_cast<long>(session.timeoutMs));
        guard.unlock();
        tallixsim::SleepMs(wait);
        tallixsim::TraceLine(TRACE_VARIABLE, "viRead %u -> 0 0x%08X", count,
                             static_cast<unsigned>(VI_ERROR_TMO));
        return VI_ERROR_TMO;
    }
    const std::string &reply = instrument.replies.front();
    std::size_t n = std::min<std::size_t>(count, reply.size() - instrument.readPos);
    const long most = tallixsim::EnvNumber("TALLIX_SIM_VISA_MAX_COUNT", 0);
    if (most > 0)
        n = std::min<std::size_t>(n, static_cast<std::size_t>(most));
    if (n > 0)
        std::memcpy(buffer, reply.data() + instrument.readPos, n);
    instrument.readPos += n;
    ViStatus status = VI_SUCCESS_MAX_CNT;
    if (instrument.readPos == reply.size()) {
        instrument.replies.pop_front();
        instrument.readPos = 0;
        status = VI_SUCCESS;
    }
    if (got)
        *got = static_cast<ViUInt32>(n);
    tallixsim::TraceLine(TRACE_VARIABLE, "viRead %u -> %zu 0x%08X", count, n, static_cast<unsigned>(status));
    return status;
}

VISASIM_EXPORT ViStatus viReadSTB(ViSession vi, ViUInt16 *status)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viReadSTB");
    Library &library = TheLibrary();
    std::lock_guard<std::mutex> guard(library.lock);
    const auto it = library.sessions.find(vi);
    if (it == library.sessions.end())
        return VI_ERROR_INV_OBJECT;
    if (!status)
        return VI_ERROR_INV_PARAMETER;
    Instrument &instrument = library.instruments[it->second.instrument];
    *status = static_cast<ViUInt16>(instrument.model.serialPoll() | (instrument.replies.empty() ? 0 : MAV));
    return VI_SUCCESS;
}

VISASIM_EXPORT ViStatus viClear(ViSession vi)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viClear");
    Library &library = TheLibrary();
    std::lock_guard<std::mutex> guard(library.lock);
    const auto it = library.sessions.find(vi);
    if (it == library.sessions.end())
        return VI_ERROR_INV_OBJECT;
    Instrument &instrument = library.instruments[it->second.instrument];
    instrument.input.clear();
    instrument.replies.clear();
    instrument.readPos = 0;
    return VI_SUCCESS;
}

VISASIM_EXPORT ViStatus viFindRsrc(ViSession rm, const ViChar *expression, ViFindList *list, ViUInt32 *count,
                                   ViChar *desc)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viFindRsrc %s", expression ? expression : "(null)");
    if (list)
        *list = 0;
    if (count)
        *count = 0;
    CopyOut(desc, "");
    if (!expression)
        return VI_ERROR_INV_PARAMETER;
    Library &library = TheLibrary();
    std::lock_guard<std::mutex> guard(library.lock);
    if (library.resourceManagers.count(rm) == 0)
        return VI_ERROR_INV_OBJECT;
    FindList found;
    for (const Instrument &instrument : library.instruments)
        if (MatchHere(expression, instrument.resource.c_str()))
            found.found.push_back(instrument.resource);
    if (found.found.empty())
        return VI_ERROR_RSRC_NFOUND;
    if (count)
        *count = static_cast<ViUInt32>(found.found.size());
    CopyOut(desc, found.found[0]);
    found.next = 1;
    const ViFindList handle = NewHandle(library);
    library.findLists[handle] = found;
    if (list)
        *list = handle;
    return VI_SUCCESS;
}

VISASIM_EXPORT ViStatus viFindNext(ViFindList list, ViChar *desc)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viFindNext");
    CopyOut(desc, "");
    Library &library = TheLibrary();
    std::lock_guard<std::mutex> guard(library.lock);
    const auto it = library.findLists.find(list);
    if (it == library.findLists.end())
        return VI_ERROR_INV_OBJECT;
    FindList &found = it->second;
    if (found.next >= found.found.size())
        return VI_ERROR_RSRC_NFOUND;
    CopyOut(desc, found.found[found.next++]);
    return VI_SUCCESS;
}

VISASIM_EXPORT ViStatus viStatusDesc(ViObject, ViStatus status, ViChar *desc)
{
    tallixsim::TraceLine(TRACE_VARIABLE, "viStatusDesc 0x%08X", static_cast<unsigned>(status));
    const char *text = StatusText(status);
    if (!text) {
        char unknown[64];
        std::snprintf(unknown, sizeof unknown, "Unknown status 0x%08X.", static_cast<unsigned>(status));
        CopyOut(desc, unknown);
        return VI_WARN_UNKNOWN_STATUS;
    }
    CopyOut(desc, text);
    return VI_SUCCESS;
}

} // extern "C"
