// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/Link.h"

#include <QString>

#include <memory>

class QLibrary;

using MessageInputFn = int (*)(char *line);
using MessageOutputFn = int (*)(char *buffer, int size);

// A message library (ordal or lumec) loaded while its link kind is chosen.
// Nothing of it is ever reported: a library that is missing, or lacks an
// entry point, sends nothing and answers with an empty text.
class CMessageLibraryLink : public CLink
{
public:
    // `libraryName` as the loader is asked for it ("ordal" finds libordal.so on
    // the loader's search path); tests may pass a full path.
    CMessageLibraryLink(const CLinkContext &context, QString libraryName, const char *inputName,
                        const char *outputName);
    ~CMessageLibraryLink() override;

    // Loads when chosen and not loaded; frees it when another link is chosen.
    CResult Update(bool chosen) override;
    // Calls the input entry point with a copy of the line when loaded and
    // found.
    CResult Send(std::string_view line) override;
    // The output entry point with the buffer and 4048 when loaded and found;
    // the byte at index 4048 is always NUL afterwards.
    CResult ReadForLog(CReply &reply) override;
    CResult ReadForDisplay(CReply &reply) override;
    // The library's output entry point into `buffer`, when it is there.
    void ReadOutputMsg(LogBuffer buffer);
    void Release() override { Free(); }

    void Free();
    bool IsLoaded() const { return m_library != nullptr; }
    bool HasInput() const { return m_inputMsg != nullptr; }
    bool HasOutput() const { return m_outputMsg != nullptr; }
    void SetLibraryName(const QString &name) { m_libraryName = name; }

private:
    QString m_libraryName;
    const char *m_inputName;
    const char *m_outputName;
    std::unique_ptr<QLibrary> m_library;
    MessageInputFn m_inputMsg = nullptr;
    MessageOutputFn m_outputMsg = nullptr;
};
