// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
// A TCP reply of arbitrary bytes, up to and past the 4048 that one read takes,
// handed to the link over a connected socket pair. The reply is all queued
// before the read, so the one receive has to take exactly the first 4048 bytes
// or fewer: checked byte for byte, with the NUL after them, nothing touched
// past that, the request sent once, the rest left in the connection and the
// socket kept. Then the same through the dispatch, whose text ends at the
// reply's first NUL. An empty input is the peer's orderly close of its side.
#include "FuzzCheck.h"
#include "tests/links/LinkAccess.h"

#include "common/UiHooks.h"
#include "links/LinkDispatch.h"
#include "links/LinkTypes.h"
#include "links/TcpLink.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t READ_SIZE = 4048;
static_assert(RESPONSE_BUFFER_SIZE == READ_SIZE);
constexpr char REQUEST[] = "Please respond\r\n";
constexpr unsigned char UNTOUCHED = 0xA5;

// No reply may lead to a message box or a wait cursor: a message here means
// the link took a good connection for a broken one.
const CUiHooks &Hooks()
{
    static const CUiHooks hooks = [] {
        CUiHooks h;
        h.showMessage = [](const QString &text) {
            FUZZ_CHECK(false, "unexpected message \"%s\"", qPrintable(text));
        };
        h.beginWait = [] { FUZZ_CHECK(false, "unexpected wait cursor"); };
        h.endWait = [] { FUZZ_CHECK(false, "unexpected end of a wait cursor"); };
        return h;
    }();
    return hooks;
}

struct Pair
{
    int link = -1; // the console's end, non-blocking as the link makes its sockets
    int peer = -1; // the instrument's end
};

// A connected pair with the whole reply already waiting at the console's end.
Pair Connect(const std::uint8_t *data, std::size_t size)
{
    int fds[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0, "socketpair: %s",
               std::strerror(errno));
    const Pair pair{fds[0], fds[1]};
    if (size == 0) {
        FUZZ_CHECK(shutdown(pair.peer, SHUT_WR) == 0, "shutdown: %s", std::strerror(errno));
        return pair;
    }
    const int room = 1 << 20;
    setsockopt(pair.peer, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t n = send(pair.peer, data + sent, size - sent, MSG_NOSIGNAL);
        FUZZ_CHECK(n > 0, "only %zu of %zu reply bytes could be queued: %s", sent, size,
                   std::strerror(errno));
        sent += static_cast<std::size_t>(n);
    }
    return pair;
}

// What is waiting at `fd` now, without waiting for more.
std::string Drain(int fd)
{
    std::string out;
    char chunk[8192];
    for (;;) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n <= 0) {
            FUZZ_CHECK(n == 0 || errno == EAGAIN || errno == EWOULDBLOCK, "recv: %s", std::strerror(errno));
            return out;
        }
        out.append(chunk, static_cast<std::size_t>(n));
    }
}

void CheckPeerAndRest(const Pair &pair, const std::uint8_t *data, std::size_t size, std::size_t taken,
                      const char *stage)
{
    const std::string request = Drain(pair.peer);
    FUZZ_CHECK(request == REQUEST, "%s: the instrument received %zu bytes, not the request", stage,
               request.size());
    // One read: what it did not take is still in the connection, in order.
    const std::string rest = Drain(pair.link);
    FUZZ_CHECK(rest.size() == size - taken &&
                   (rest.empty() || std::memcmp(rest.data(), data + taken, rest.size()) == 0),
               "%s: %zu bytes left in the connection, expected the %zu after the first %zu", stage,
               rest.size(), size - taken, taken);
}

void CheckLink(const std::uint8_t *data, std::size_t size)
{
    const Pair pair = Connect(data, size);
    static const CLinkContext context = [] {
        CLinkContext c;
        c.hooks = &Hooks();
        return c;
    }();
    CTcpLink link(context);
    link.Connection().Adopt(pair.link);

    // Exactly the room the callers give; AddressSanitizer stops a write past it.
    const auto buffer = std::make_unique<char[]>(READ_SIZE + 1);
    std::memset(buffer.get(), UNTOUCHED, READ_SIZE + 1);
    buffer[0] = '\0';
    link.ReadSocketResponse(buffer.get());

    const std::size_t taken = std::min(size, READ_SIZE);
    FUZZ_CHECK(link.Connection().Fd() == pair.link, "the socket was dropped after a reply of %zu bytes",
               size);
    FUZZ_CHECK(taken == 0 || std::memcmp(buffer.get(), data, taken) == 0,
               "the buffer does not hold the first %zu reply bytes", taken);
    FUZZ_CHECK(buffer[taken] == '\0', "no NUL after the %zu reply bytes", taken);
    for (std::size_t i = taken + 1; i <= READ_SIZE; ++i)
        FUZZ_CHECK(static_cast<unsigned char>(buffer[i]) == UNTOUCHED,
                   "byte %zu written after a reply of %zu", i, size);
    CheckPeerAndRest(pair, data, size, taken, "link");
    close(pair.peer); // the link closes its own end
}

void CheckDispatch(const std::uint8_t *data, std::size_t size)
{
    static CLinkDispatch dispatch(&Hooks());
    dispatch.Choose(LINK_TCPIP);
    const Pair pair = Connect(data, size);
    Tcp(dispatch).Connection().Adopt(pair.link);

    QByteArray text;
    // A failed read of the TCP/IP link is told by the link and never ends the command.
    FUZZ_CHECK(!dispatch.ReadResponse(text).ToTell(), "ReadResponse ended the command");

    const std::size_t taken = std::min(size, READ_SIZE);
    const auto *nul = static_cast<const std::uint8_t *>(std::memchr(data, '\0', taken));
    const auto expected = static_cast<qsizetype>(nul ? static_cast<std::size_t>(nul - data) : taken);
    FUZZ_CHECK(text.size() == expected, "text of %lld bytes, expected %lld",
               static_cast<long long>(text.size()), static_cast<long long>(expected));
    FUZZ_CHECK(expected == 0 || std::memcmp(text.constData(), data, static_cast<std::size_t>(expected)) == 0,
               "the text is not the reply up to its first NUL");
    FUZZ_CHECK(Tcp(dispatch).Connection().Fd() == pair.link,
               "the dispatch dropped the socket after %zu bytes", size);
    CheckPeerAndRest(pair, data, size, taken, "dispatch");
    Tcp(dispatch).DropSocket();
    close(pair.peer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CheckLink(data, size);
    CheckDispatch(data, size);
    return 0;
}
