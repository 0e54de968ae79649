// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// The few parts of the VISA C interface that Tallix calls, as the IVI
// Foundation publishes it: its types, the status values and attributes that
// Tallix looks at, and the calls it resolves by name. Status values with bit
// 31 set are errors, the others success or a warning.
namespace visa {

using ViStatus = std::int32_t;
using ViUInt32 = std::uint32_t;
using ViUInt16 = std::uint16_t;
using ViSession = ViUInt32;
using ViObject = ViUInt32;
using ViFindList = ViObject;
using ViAttr = ViUInt32;
using ViAccessMode = ViUInt32;
// As wide as a pointer: 64 bits on a 64-bit system. Passed zero-extended, a
// value also reaches a library that reads 32 bits.
using ViAttrState = std::uintptr_t;
using ViChar = char;

constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001A;
constexpr ViAccessMode VI_NO_LOCK = 0;
constexpr ViSession VI_NULL = 0;
// The room every description and found resource string is given.
constexpr int VI_FIND_BUFLEN = 256;

inline bool Failed(ViStatus status)
{
    return status < 0;
}

using ViOpenDefaultRMFn = ViStatus (*)(ViSession *vi);
using ViOpenFn = ViStatus (*)(ViSession rm, const ViChar *name, ViAccessMode mode, ViUInt32 timeout,
                              ViSession *vi);
using ViCloseFn = ViStatus (*)(ViObject vi);
using ViSetAttributeFn = ViStatus (*)(ViObject vi, ViAttr attribute, ViAttrState value);
using ViGetAttributeFn = ViStatus (*)(ViObject vi, ViAttr attribute, void *value);
using ViWriteFn = ViStatus (*)(ViSession vi, const unsigned char *buffer, ViUInt32 count, ViUInt32 *written);
using ViReadFn = ViStatus (*)(ViSession vi, unsigned char *buffer, ViUInt32 count, ViUInt32 *got);
using ViReadSTBFn = ViStatus (*)(ViSession vi, ViUInt16 *status);
using ViClearFn = ViStatus (*)(ViSession vi);
using ViFindRsrcFn = ViStatus (*)(ViSession rm, const ViChar *expression, ViFindList *list, ViUInt32 *count,
                                  ViChar *desc);
using ViFindNextFn = ViStatus (*)(ViFindList list, ViChar *desc);
using ViStatusDescFn = ViStatus (*)(ViObject vi, ViStatus status, ViChar *desc);

} // namespace visa

// The calls, as the library that was loaded exports them.
struct CVisaCalls
{
    visa::ViOpenDefaultRMFn viOpenDefaultRM = nullptr;
    visa::ViOpenFn viOpen = nullptr;
    visa::ViCloseFn viClose = nullptr;
    visa::ViSetAttributeFn viSetAttribute = nullptr;
    visa::ViGetAttributeFn viGetAttribute = nullptr;
    visa::ViWriteFn viWrite = nullptr;
    visa::ViReadFn viRead = nullptr;
    visa::ViReadSTBFn viReadSTB = nullptr;
    visa::ViClearFn viClear = nullptr;
    visa::ViFindRsrcFn viFindRsrc = nullptr;
    visa::ViFindNextFn viFindNext = nullptr;
    visa::ViStatusDescFn viStatusDesc = nullptr;
};
