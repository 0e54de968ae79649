# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# The picture of Link Settings in the README, made by scripts/screenshot.
add_executable(dialog_picture ${CMAKE_CURRENT_SOURCE_DIR}/console/dialog_picture.cpp)
target_link_libraries(dialog_picture PRIVATE tallixui Qt6::Test)
add_dependencies(${TEST_NAME} dialog_picture)
