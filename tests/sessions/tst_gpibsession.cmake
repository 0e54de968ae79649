# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# The simulated gpib-32, and Tallix's gpib-32 with the two simulated GPIB
# libraries of the machine, all by their full paths.
add_dependencies(${TEST_NAME} tallixsim_gpib tallix_gpib32 tallixsim_gpib_backends)
target_compile_definitions(${TEST_NAME} PRIVATE
  TALLIX_GPIB32_LIBRARY="$<TARGET_FILE:tallix_gpib32>"
  TALLIX_SIM_LINUXGPIB="$<TARGET_FILE:tallixsim_linuxgpib>"
  TALLIX_SIM_NI4882="$<TARGET_FILE:tallixsim_ni4882>")
set_tests_properties(${TEST_NAME} PROPERTIES ENVIRONMENT_MODIFICATION "LD_LIBRARY_PATH=unset:")
