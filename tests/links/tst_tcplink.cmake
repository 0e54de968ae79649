# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
add_dependencies(${TEST_NAME} tallix-instrument-server)
# Waits out the 25-second connect deadline and the 10-second response
# deadline once each.
set_tests_properties(${TEST_NAME} PROPERTIES LABELS "network;slow" TIMEOUT 180)
