# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# The simulated ordal and GPIB libraries answer some of the file runs.
add_dependencies(${TEST_NAME} tallixsim_ordal tallixsim_gpib)
