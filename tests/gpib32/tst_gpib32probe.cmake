# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
add_dependencies(${TEST_NAME} tallix-gpib-probe tallixsim_gpib_backends)
target_compile_definitions(${TEST_NAME} PRIVATE
  TALLIX_GPIB_PROBE="$<TARGET_FILE:tallix-gpib-probe>"
  TALLIX_SIM_LINUXGPIB="$<TARGET_FILE:tallixsim_linuxgpib>"
  TALLIX_SIM_NI4882="$<TARGET_FILE:tallixsim_ni4882>")
