# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Included by the .cmake of a test that reaches USB instruments: the
# simulated usbtmc driver stands in for the kernel's. In a sanitizer build
# AddressSanitizer's runtime must come first among the loaded libraries, so
# it is preloaded ahead of the simulator (which is built with the same flags).
add_dependencies(${TEST_NAME} tallixsim_usbtmc)
set(_preload ${TALLIX_SIM_LIBDIR}/libtallix-usbtmc-sim.so)
if(TALLIX_SANITIZE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE _asan OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${_asan}" AND EXISTS "${_asan}")
    set(_preload "${_asan}:${_preload}")
  else()
    # Without the runtime's path the test is not preloaded and says so.
    set(_preload "")
  endif()
endif()
if(_preload)
  set_tests_properties(${TEST_NAME} PROPERTIES ENVIRONMENT_MODIFICATION "LD_PRELOAD=set:${_preload}")
endif()
