# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# The simulated VISA library, and the simulated GPIB library as one that is
# not a VISA library; both are loaded by their paths.
add_dependencies(${TEST_NAME} tallixsim_visa tallixsim_gpib)
