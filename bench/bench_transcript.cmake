# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
add_dependencies(${BENCH_NAME} tallix-instrument-server)
