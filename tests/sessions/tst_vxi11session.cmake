# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Serves port 111 in a network namespace of its own (scripts/run-in-netns,
# entered by the program itself).
add_dependencies(${TEST_NAME} tallix-vxi11-server)
set_tests_properties(${TEST_NAME} PROPERTIES LABELS "network")
