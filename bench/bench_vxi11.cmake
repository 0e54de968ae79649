# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Needs lxi-tools, python3-pyvisa and python3-pyvisa-py; serves port 111 in a
# network namespace of its own (scripts/run-in-netns, entered by the program).
add_dependencies(${BENCH_NAME} tallix-vxi11-server)
