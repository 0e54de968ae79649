// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/MessageLibraryLink.h"

#include <QByteArray>
#include <QLibrary>

#include <cstring>
#include <string>
#include <utility>

namespace {

// Command lines hold at most 199 characters and CR, LF and NUL; typed ones
// may be longer and go to the heap.
constexpr std::size_t COPY_ON_STACK = 256;

} // namespace

CMessageLibraryLink::CMessageLibraryLink(const CLinkContext &context, QString libraryName,
                                         const char *inputName, const char *outputName)
    : CLink(context), m_libraryName(std::move(libraryName)), m_inputName(inputName), m_outputName(outputName)
{
}

CMessageLibraryLink::~CMessageLibraryLink()
{
    Free();
}

CResult CMessageLibraryLink::Update(bool chosen)
{
    if (!chosen) {
        Free();
        return CResult();
    }
    if (m_library)
        return CResult();

    // A bare name goes to the loader as it is, so the loader's own search path
    // decides and the working directory is never looked in.
    auto library = std::make_unique<QLibrary>(m_libraryName);
    if (!library->load())
        return CResult();
    m_library = std::move(library);
    m_inputMsg = reinterpret_cast<MessageInputFn>(m_library->resolve(m_inputName));
    m_outputMsg = reinterpret_cast<MessageOutputFn>(m_library->resolve(m_outputName));
    return CResult();
}

CResult CMessageLibraryLink::Send(std::string_view line)
{
    if (!m_library || !m_inputMsg)
        return CResult();
    // The entry point takes a writable string; it gets a copy, so that
    // whatever it does to it cannot change the line the log records.
    const std::size_t size = line.size() + 1;
    char local[COPY_ON_STACK];
    std::string heap;
    char *copy = local;
    if (size > sizeof local) {
        heap.resize(size);
        copy = heap.data();
    }
    std::memcpy(copy, line.data(), line.size());
    copy[line.size()] = '\0';
    m_inputMsg(copy);
    return CResult();
}

void CMessageLibraryLink::ReadOutputMsg(LogBuffer buffer)
{
    if (m_library && m_outputMsg)
        m_outputMsg(buffer.data(), RESPONSE_BUFFER_SIZE);
    // A library that fills the whole buffer leaves no terminator of its own.
    buffer[RESPONSE_BUFFER_SIZE] = '\0';
}

CResult CMessageLibraryLink::ReadForLog(CReply &reply)
{
    ReadIntoReply(reply, [this](LogBuffer buffer) { ReadOutputMsg(buffer); });
    return CResult();
}

CResult CMessageLibraryLink::ReadForDisplay(CReply &reply)
{
    ReadIntoReply(reply, [this](LogBuffer buffer) { ReadOutputMsg(buffer); });
    return CResult();
}

void CMessageLibraryLink::Free()
{
    m_inputMsg = nullptr;
    m_outputMsg = nullptr;
    if (!m_library)
        return;
    // Each QLibrary object counts one load of its own, and this one loaded
    // exactly once, so this gives back our only reference; the object goes
    // with it, so that the next load starts from a new one.
    m_library->unload();
    m_library.reset();
}
