# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
add_dependencies(${TEST_NAME} tallix-instrument-server)
set_tests_properties(${TEST_NAME} PROPERTIES LABELS "network")
