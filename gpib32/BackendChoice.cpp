// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "gpib32/BackendChoice.h"

#include "gpib32/LibraryBackend.h"
#include "gpib32/PrologixBackend.h"

#include <cstdlib>

namespace gpib32 {

CBackendChoice &CBackendChoice::Instance()
{
    static CBackendChoice choice;
    static const bool loaded = (choice.Load(std::getenv("TALLIX_GPIB_BACKEND")), true);
    (void)loaded;
    return choice;
}

void CBackendChoice::Note(const std::string &text)
{
    m_attempts += m_attempts.empty() ? "tried " : "; ";
    m_attempts += text;
}

void CBackendChoice::Load(const char *override)
{
    if (m_tried)
        return;
    m_tried = true;
    std::string reason;
    if (CPrologixBackend::NamesAdapter(override)) {
        // The user chose the adapter: no library is tried in its place.
        auto adapter = std::make_unique<CPrologixBackend>();
        if (!adapter->Configure(override + CPrologixBackend::PREFIX_LENGTH, reason)) {
            Note(std::string("TALLIX_GPIB_BACKEND: ") + override + ": " + reason);
            return;
        }
        m_backend = std::move(adapter);
        m_path = override;
        return;
    }
    const auto take = [this](std::unique_ptr<CLibraryBackend> library) {
        if (!library)
            return false;
        m_path = library->Path();
        m_backend = std::move(library);
        return true;
    };
    if (override && *override) {
        if (take(CLibraryBackend::Open(override, reason)))
            return;
        Note("TALLIX_GPIB_BACKEND: " + reason);
    }
    for (int i = 0; i < CLibraryBackend::LIBRARY_NAME_COUNT; ++i) {
        if (take(CLibraryBackend::Open(CLibraryBackend::LIBRARY_NAMES[i], reason)))
            return;
        Note(reason);
    }
}

} // namespace gpib32
