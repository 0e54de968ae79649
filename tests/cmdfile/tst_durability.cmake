# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# The batch runs in a process of its own, which the test kills.
add_executable(durability_child ${CMAKE_CURRENT_SOURCE_DIR}/cmdfile/durability_child.cpp)
target_link_libraries(durability_child PRIVATE tallixui)
add_dependencies(${TEST_NAME} durability_child tallixsim_lumec)
target_compile_definitions(${TEST_NAME} PRIVATE DURABILITY_CHILD="$<TARGET_FILE:durability_child>")
set_tests_properties(${TEST_NAME} PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LD_LIBRARY_PATH=${TALLIX_SIM_LIBDIR}")
