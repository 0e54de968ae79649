// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/LinkTypes.h"

#include <QString>

class QLibrary;

using MessageInputFn = int (*)(char *line);
using MessageOutputFn = int (*)(char *buffer, int size);

// A message library (ordal or lumec) loaded while its link kind is chosen.
class CMessageLibraryLink
{
public:
    // `libraryName` as the loader is asked for it ("ordal" finds libordal.so on
    // the loader's search path); tests may pass a full path.
    CMessageLibraryLink(LinkKind kind, QString libraryName, const char *inputName, const char *outputName);
    ~CMessageLibraryLink();
    CMessageLibraryLink(const CMessageLibraryLink &) = delete;
    CMessageLibraryLink &operator=(const CMessageLibraryLink &) = delete;

    // Loads when `current` is this link's kind and it is not loaded; frees it
    // when another kind is chosen.
    void UpdateLink(LinkKind current);
    // Calls the input entry point with the line when loaded and found.
    void Send(const char *line);
    // Calls the output entry point with `buffer` (RESPONSE_BUFFER_SIZE bytes
    // and one more) and 4048 when loaded and found; the byte at index 4048 is
    // always NUL afterwards.
    void Receive(char *buffer);
    void Free();

    bool IsLoaded() const { return m_library != nullptr; }
    bool HasInput() const { return m_inputMsg != nullptr; }
    bool HasOutput() const { return m_outputMsg != nullptr; }
    void SetLibraryName(const QString &name) { m_libraryName = name; }

private:
    LinkKind m_kind;
    QString m_libraryName;
    const char *m_inputName;
    const char *m_outputName;
    QLibrary *m_library = nullptr;
    MessageInputFn m_inputMsg = nullptr;
    MessageOutputFn m_outputMsg = nullptr;
};
