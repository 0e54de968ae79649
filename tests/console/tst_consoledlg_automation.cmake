# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs in the automation link test's private session bus (written at configure
# time by tests/links/tst_automationlink.cmake).
add_dependencies(${TEST_NAME} tallix-automation-server)
find_program(TALLIX_DBUS_RUN_SESSION dbus-run-session)
if(TALLIX_DBUS_RUN_SESSION)
  set_target_properties(${TEST_NAME} PROPERTIES CROSSCOMPILING_EMULATOR
    "${TALLIX_DBUS_RUN_SESSION};--config-file=${CMAKE_BINARY_DIR}/tests/automation-bus/session.conf;--")
endif()
set_tests_properties(${TEST_NAME} PROPERTIES LABELS dbus TIMEOUT 120)
