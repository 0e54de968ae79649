# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# gpib-32 by its full path (the test copies it per row), the simulated
# adapter and the probe.
add_dependencies(${TEST_NAME} tallix_gpib32 tallix-gpib-probe tallix-prologix-adapter)
target_compile_definitions(${TEST_NAME} PRIVATE
  TALLIX_GPIB32_LIBRARY="$<TARGET_FILE:tallix_gpib32>"
  TALLIX_GPIB_PROBE="$<TARGET_FILE:tallix-gpib-probe>")
set_tests_properties(${TEST_NAME} PROPERTIES ENVIRONMENT_MODIFICATION "LD_LIBRARY_PATH=unset:")
