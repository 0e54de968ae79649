# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
include(${CMAKE_CURRENT_SOURCE_DIR}/UsbtmcPreload.cmake)
