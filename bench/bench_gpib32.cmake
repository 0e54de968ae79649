# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
add_dependencies(${BENCH_NAME} tallixsim_gpib tallix_gpib32 tallixsim_linuxgpib)
target_compile_definitions(${BENCH_NAME} PRIVATE
  TALLIX_GPIB32_LIBRARY="$<TARGET_FILE:tallix_gpib32>"
  TALLIX_SIM_LINUXGPIB="$<TARGET_FILE:tallixsim_linuxgpib>")
