// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sessions/vxi11/RpcChannel.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// Only the VXI-11 session includes this: it brings libtirpc along.

// One RPC call as the thread runs it: its arguments (and the bytes they
// point to) and its result stay here, where a call that outlives the wait
// of a user who stopped still finds them.
template <typename Parms, typename Result> struct CVxi11Call
{
    explicit CVxi11Call(xdrproc_t freeResult = nullptr) : freeResult(freeResult) {}
    ~CVxi11Call()
    {
        if (freeResult)
            xdr_free(freeResult, reinterpret_cast<char *>(&result));
    }
    CVxi11Call(const CVxi11Call &) = delete;
    CVxi11Call &operator=(const CVxi11Call &) = delete;

    bool Failed() const { return status != RPC_SUCCESS; }

    Parms parms{};
    Result result{};
    QByteArray bytes;
    clnt_stat status = RPC_FAILED;
    QString failure; // libtirpc's text when the call failed in transport
    xdrproc_t freeResult;
};

template <typename Parms, typename Result> using Vxi11Stub = clnt_stat (*)(Parms *, Result *, CLIENT *);

// The call as the thread's job, holding what it needs; `ms` bounds it.
template <typename Parms, typename Result>
std::function<void()> Vxi11Job(const std::shared_ptr<CRpcChannel> &channel,
                               const std::shared_ptr<CVxi11Call<Parms, Result>> &call,
                               Vxi11Stub<Parms, Result> stub, std::int64_t ms)
{
    return [channel, call, stub, ms]() {
        CLIENT *client = channel && !channel->IsCut() ? channel->Client(ms) : nullptr;
        if (!client) {
            call->status = RPC_CANTSEND;
            call->failure = QStringLiteral("RPC: not connected");
            return;
        }
        call->status = stub(&call->parms, &call->result, client);
        if (call->status != RPC_SUCCESS)
            call->failure = channel->CallError();
    };
}
