# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the whole build: everything must be built first.
add_dependencies(${TEST_NAME} tallix tallix_gpib32 tallix-gpib-probe tallixsim_usbtmc)
set_tests_properties(${TEST_NAME} PROPERTIES LABELS "install" TIMEOUT 300)
