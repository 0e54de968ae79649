# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Needs lxi-tools, python3-pyvisa and python3-pyvisa-py (scripts/install-deps).
add_dependencies(${TEST_NAME} tallix-instrument-server)
set_tests_properties(${TEST_NAME} PROPERTIES LABELS "network")
