# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the built program itself.
add_dependencies(${TEST_NAME} tallix)
target_compile_definitions(${TEST_NAME} PRIVATE TALLIX_VERSION="${PROJECT_VERSION}")
