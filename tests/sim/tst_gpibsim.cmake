# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Loads copies of the simulated libgpib-32.so; the expected replies come from
# the instrument server's --dump.
add_dependencies(${TEST_NAME} tallixsim_gpib tallix-instrument-server)
