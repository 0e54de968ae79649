# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Needs python3-pyvisa, python3-pyvisa-py, python3-serial and socat (scripts/install-deps).
add_dependencies(${TEST_NAME} tallix-serial-instrument)
