// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gpib32/GpibBackend.h"

#include <memory>
#include <string>

namespace gpib32 {

// The backend of the process: chosen once, from TALLIX_GPIB_BACKEND and then
// the libraries' usual names, and handed out as the interface alone. Linked
// into libgpib-32.so and into the probe, so both choose the same backend the
// same way.
class CBackendChoice
{
public:
    CBackendChoice() = default;
    CBackendChoice(const CBackendChoice &) = delete;
    CBackendChoice &operator=(const CBackendChoice &) = delete;

    // Chosen on first use with the environment's choice.
    static CBackendChoice &Instance();

    // Tries `override` (when not empty), then the libraries' names; keeps
    // the first that loads and is a GPIB library. An override
    // "prologix:serial:DEVICE" or "prologix:tcp:HOST[:PORT]" takes a
    // Prologix adapter instead, and nothing else (the adapter is reached at
    // the first call). Only the first call does anything.
    void Load(const char *override);

    // Null when nothing could be loaded.
    CGpibBackend *Backend() const { return m_backend.get(); }
    // The file the loader opened (for an adapter, where it is).
    const std::string &Path() const { return m_path; }
    // One line: every candidate tried and why it was not taken.
    const std::string &Attempts() const { return m_attempts; }

private:
    void Note(const std::string &text);

    std::unique_ptr<CGpibBackend> m_backend;
    bool m_tried = false;
    std::string m_path;
    std::string m_attempts;
};

} // namespace gpib32
