# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
add_dependencies(${TEST_NAME} tallix-automation-server)

# A session bus of the test's own, which can start the simulator on demand
# (its service folder from the build) and two services of the test: one that
# logs its calls, and one whose start fails.
set(_bus ${CMAKE_BINARY_DIR}/tests/automation-bus)
file(CONFIGURE OUTPUT ${_bus}/services/Tallix.Test.OnDemand.service CONTENT "[D-BUS Service]
Name=Tallix.Test.OnDemand
Exec=${TALLIX_SIM_BINDIR}/tallix-automation-server --name Tallix.Test.OnDemand --log ${_bus}/ondemand.log
")
file(CONFIGURE OUTPUT ${_bus}/services/Tallix.Test.BrokenStart.service CONTENT "[D-BUS Service]
Name=Tallix.Test.BrokenStart
Exec=/bin/false
")
set(TALLIX_DBUS_SERVICEDIRS "  <servicedir>${TALLIX_DBUS_SERVICEDIR}</servicedir>
  <servicedir>${_bus}/services</servicedir>")
configure_file(${CMAKE_SOURCE_DIR}/sim/automation/dbus-session.conf.in ${_bus}/session.conf @ONLY)

# The test always runs in that bus, also under a make test that has a session
# bus of its own; without dbus-run-session it skips.
find_program(TALLIX_DBUS_RUN_SESSION dbus-run-session)
if(TALLIX_DBUS_RUN_SESSION)
  set_target_properties(${TEST_NAME} PROPERTIES
    CROSSCOMPILING_EMULATOR "${TALLIX_DBUS_RUN_SESSION};--config-file=${_bus}/session.conf;--")
endif()
set_tests_properties(${TEST_NAME} PROPERTIES LABELS dbus TIMEOUT 120)
