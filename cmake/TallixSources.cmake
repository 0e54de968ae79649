# SPDX-FileCopyrightText: 2026 Korvane
# SPDX-License-Identifier: GPL-3.0-or-later
# Adds the sources of the calling folder: files whose names contain Dlg, Dialog,
# Ctrl or Widget need widgets and go to tallixui; everything else is
# widget-free and goes to tallixcore, which the tests link without a display.
function(tallix_add_folder_sources)
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(_ui ${_sources})
  list(FILTER _ui INCLUDE REGEX "(Dlg|Dialog|Ctrl|Widget)[^/]*$")
  set(_core ${_sources})
  list(FILTER _core EXCLUDE REGEX "(Dlg|Dialog|Ctrl|Widget)[^/]*$")
  if(_ui)
    target_sources(tallixui PRIVATE ${_ui})
  endif()
  if(_core)
    target_sources(tallixcore PRIVATE ${_core})
  endif()
endfunction()
