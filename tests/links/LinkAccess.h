// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/GpibLink.h"
#include "links/LinkDispatch.h"
#include "links/TcpLink.h"

// The tests look into particular links, which the program never does: it
// reaches every link through CLink and its extras.
template <typename T> T &LinkAs(const CLinkDispatch &links, LinkKind kind)
{
    return static_cast<T &>(links.Link(kind));
}

inline CGpibLink &Gpib(const CLinkDispatch &links)
{
    return LinkAs<CGpibLink>(links, LINK_GPIB);
}

inline CTcpLink &Tcp(const CLinkDispatch &links)
{
    return LinkAs<CTcpLink>(links, LINK_TCPIP);
}
