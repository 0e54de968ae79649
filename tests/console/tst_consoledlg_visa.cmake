# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
add_dependencies(${TEST_NAME} tallixsim_gpib tallix-serial-instrument)
# The simulated library on the loader's search path, so that the bare name
# "gpib-32" finds it.
set_tests_properties(${TEST_NAME} PROPERTIES
  ENVIRONMENT_MODIFICATION "LD_LIBRARY_PATH=set:${TALLIX_SIM_LIBDIR}")
