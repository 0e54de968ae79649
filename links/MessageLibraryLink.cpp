// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/MessageLibraryLink.h"

#include <QLibrary>

#include <cstring>
#include <string>
#include <utility>

namespace {

// Command lines hold at most 199 characters and CR, LF and NUL; typed ones
// may be longer and go to the heap.
constexpr std::size_t COPY_ON_STACK = 256;

} // namespace

CMessageLibraryLink::CMessageLibraryLink(LinkKind kind, QString libraryName, const char *inputName,
                                         const char *outputName)
    : m_kind(kind), m_libraryName(std::move(libraryName)), m_inputName(inputName), m_outputName(outputName)
{
}

CMessageLibraryLink::~CMessageLibraryLink()
{
    Free();
}

void CMessageLibraryLink::UpdateLink(LinkKind current)
{
    if (current != m_kind) {
        Free();
        return;
    }
    if (m_library)
        return;

    // A bare name goes to the loader as it is, so the loader's own search path
    // decides and the working directory is never looked in.
    auto library = new QLibrary(m_libraryName);
    if (!library->load()) {
        delete library;
        return;
    }
    m_library = library;
    m_inputMsg = reinterpret_cast<MessageInputFn>(m_library->resolve(m_inputName));
    m_outputMsg = reinterpret_cast<MessageOutputFn>(m_library->resolve(m_outputName));
}

void CMessageLibraryLink::Send(const char *line)
{
    if (!m_library || !m_inputMsg || !line)
        return;
    // The entry point takes a writable string; it gets a copy, so that
    // whatever it does to it cannot change the line the log records.
    const std::size_t size = std::strlen(line) + 1;
    char local[COPY_ON_STACK];
    std::string heap;
    char *copy = local;
    if (size > sizeof local) {
        heap.resize(size);
        copy = heap.data();
    }
    std::memcpy(copy, line, size);
    m_inputMsg(copy);
}

void CMessageLibraryLink::Receive(char *buffer)
{
    if (m_library && m_outputMsg)
        m_outputMsg(buffer, RESPONSE_BUFFER_SIZE);
    // A library that fills the whole buffer leaves no terminator of its own.
    buffer[RESPONSE_BUFFER_SIZE] = '\0';
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
    delete m_library;
    m_library = nullptr;
}
