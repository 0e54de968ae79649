# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Every simulator a session kind is held by; serves port 111 in a network
# namespace of its own (scripts/run-in-netns, entered by the program). The
# USBTMC rows run in a child that preloads the simulated usbtmc driver (in a
# sanitizer build after the sanitizer's runtime, as tests/UsbtmcPreload.cmake
# does; without its path they are skipped).
add_dependencies(${BENCH_NAME} tallix-instrument-server tallix-vxi11-server tallixsim_usbtmc
  tallix-serial-instrument tallixsim_gpib tallixsim_visa tallix_gpib32 tallix-prologix-adapter)
set(_preload ${TALLIX_SIM_LIBDIR}/libtallix-usbtmc-sim.so)
if(TALLIX_SANITIZE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE _asan OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${_asan}" AND EXISTS "${_asan}")
    set(_preload "${_asan}:${_preload}")
  else()
    set(_preload "")
  endif()
endif()
target_compile_definitions(${BENCH_NAME} PRIVATE
  TALLIX_GPIB32_LIBRARY="$<TARGET_FILE:tallix_gpib32>"
  TALLIX_USBTMC_PRELOAD="${_preload}")
