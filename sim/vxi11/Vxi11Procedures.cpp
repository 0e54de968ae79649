// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// The procedures that rpcgen's dispatch calls, with C linkage as its header
// declares them: each hands its call to the one Vxi11Server.
#include "sim/vxi11/Vxi11Server.h"

namespace {

constexpr int ERR_CHANNEL_NOT_ESTABLISHED = 6;
constexpr int ERR_NOT_SUPPORTED = 8;

} // namespace

using tallixsim::Vxi11Server;

bool_t create_link_1_svc(Create_LinkParms *parms, Create_LinkResp *result, struct svc_req *request)
{
    return Vxi11Server::Instance()->CreateLink(*parms, *result, request);
}

bool_t device_write_1_svc(Device_WriteParms *parms, Device_WriteResp *result, struct svc_req *request)
{
    return Vxi11Server::Instance()->Write(*parms, *result, request);
}

bool_t device_read_1_svc(Device_ReadParms *parms, Device_ReadResp *result, struct svc_req *request)
{
    return Vxi11Server::Instance()->Read(*parms, *result, request);
}

bool_t device_readstb_1_svc(Device_GenericParms *parms, Device_ReadStbResp *result, struct svc_req *request)
{
    return Vxi11Server::Instance()->ReadStatusByte(*parms, *result, request);
}

bool_t device_trigger_1_svc(Device_GenericParms *parms, Device_Error *result, struct svc_req *request)
{
    return Vxi11Server::Instance()->Generic("device_trigger", *parms, *result, request);
}

bool_t device_clear_1_svc(Device_GenericParms *parms, Device_Error *result, struct svc_req *request)
{
    return Vxi11Server::Instance()->Clear(*parms, *result, request);
}

bool_t device_remote_1_svc(Device_GenericParms *parms, Device_Error *result, struct svc_req *request)
{
    return Vxi11Server::Instance()->Generic("device_remote", *parms, *result, request);
}

bool_t device_local_1_svc(Device_GenericParms *parms, Device_Error *result, struct svc_req *request)
{
    return Vxi11Server::Instance()->Generic("device_local", *parms, *result, request);
}

bool_t device_lock_1_svc(Device_LockParms *parms, Device_Error *result, struct svc_req *request)
{
    return Vxi11Server::Instance()->Lock(*parms, *result, request);
}

bool_t device_unlock_1_svc(Device_Link *link, Device_Error *result, struct svc_req *)
{
    return Vxi11Server::Instance()->Unlock(*link, *result);
}

bool_t device_enable_srq_1_svc(Device_EnableSrqParms *parms, Device_Error *result, struct svc_req *)
{
    result->error = 0;
    Vxi11Server::Instance()->Trace("device_enable_srq lid=%d enable=%d -> error 0", parms->lid,
                                   parms->enable ? 1 : 0);
    return TRUE;
}

bool_t device_docmd_1_svc(Device_DocmdParms *parms, Device_DocmdResp *result, struct svc_req *)
{
    // The simulated instrument is no gateway's bus: it has no commands of
    // its own to take.
    *result = Device_DocmdResp{};
    result->error = ERR_NOT_SUPPORTED;
    Vxi11Server::Instance()->Trace("device_docmd lid=%d cmd=0x%x -> error %d", parms->lid, parms->cmd,
                                   result->error);
    return TRUE;
}

bool_t destroy_link_1_svc(Device_Link *link, Device_Error *result, struct svc_req *)
{
    return Vxi11Server::Instance()->DestroyLink(*link, *result);
}

bool_t create_intr_chan_1_svc(Device_RemoteFunc *, Device_Error *result, struct svc_req *)
{
    result->error = ERR_NOT_SUPPORTED;
    Vxi11Server::Instance()->Trace("create_intr_chan -> error %d", result->error);
    return TRUE;
}

bool_t destroy_intr_chan_1_svc(void *, Device_Error *result, struct svc_req *)
{
    result->error = ERR_CHANNEL_NOT_ESTABLISHED;
    Vxi11Server::Instance()->Trace("destroy_intr_chan -> error %d", result->error);
    return TRUE;
}

bool_t device_abort_1_svc(Device_Link *link, Device_Error *result, struct svc_req *)
{
    return Vxi11Server::Instance()->Abort(*link, *result);
}

// The interrupt channel is the client's to serve; the simulated instrument
// never registers it.
bool_t device_intr_srq_1_svc(Device_SrqParms *, void *, struct svc_req *)
{
    return FALSE;
}

// The answers point into the server's own buffers, which outlive them: there
// is nothing to free.
int device_core_1_freeresult(SVCXPRT *, xdrproc_t, caddr_t)
{
    return 1;
}

int device_async_1_freeresult(SVCXPRT *, xdrproc_t, caddr_t)
{
    return 1;
}

int device_intr_1_freeresult(SVCXPRT *, xdrproc_t, caddr_t)
{
    return 1;
}
