# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Needs lxi-tools, python3-pyvisa and python3-pyvisa-py (scripts/install-deps);
# serves port 111 in a network namespace of its own.
add_dependencies(${TEST_NAME} tallix-vxi11-server)
set_tests_properties(${TEST_NAME} PROPERTIES LABELS "network")
