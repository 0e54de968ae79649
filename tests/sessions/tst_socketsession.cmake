# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs in a network namespace of its own (scripts/run-in-netns, entered by
# the program itself), where it serves a name server that never answers.
add_dependencies(${TEST_NAME} tallix-instrument-server)
set_tests_properties(${TEST_NAME} PROPERTIES LABELS "network")
