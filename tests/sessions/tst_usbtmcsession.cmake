# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
include(${CMAKE_CURRENT_SOURCE_DIR}/UsbtmcPreload.cmake)
# Waits out the simulated old driver's fixed 5 s time-out once.
set_tests_properties(${TEST_NAME} PROPERTIES TIMEOUT 120)
