# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
add_dependencies(${TEST_NAME} tallixsim_gpib tallixsim_gpib_variants)
# The simulated library on the loader's search path, so that the bare name
# "gpib-32" finds it.
set_tests_properties(${TEST_NAME} PROPERTIES
  ENVIRONMENT_MODIFICATION "LD_LIBRARY_PATH=set:${TALLIX_SIM_LIBDIR}")
# The same program with nothing on the search path: a library in the current
# directory must not load.
add_test(NAME ${TEST_NAME}_nopath COMMAND ${TEST_NAME} libraryByBareName)
set_tests_properties(${TEST_NAME}_nopath PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_ASSUME_STDERR_HAS_CONSOLE=1"
  ENVIRONMENT_MODIFICATION "LD_LIBRARY_PATH=unset:"
  TIMEOUT 60)
