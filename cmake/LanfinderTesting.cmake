# Test registration. Networked tests never touch the machine's own interfaces:
# ctest starts them through scripts/netlab, which exits 77 (reported as skipped)
# where network namespaces are not available.
set(LANFINDER_NETLAB ${PROJECT_SOURCE_DIR}/scripts/netlab)

function(lanfinder_add_test name target)
  add_test(NAME ${name} COMMAND ${target} ${ARGN})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# lanfinder_add_lab_test(NAME target [args...]) runs the target inside a fresh lab.
function(lanfinder_add_lab_test name target)
  add_test(NAME ${name} COMMAND ${LANFINDER_NETLAB} -- $<TARGET_FILE:${target}> ${ARGN})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANFINDER_SOURCE_DIR=${PROJECT_SOURCE_DIR};LANFINDER_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
    SKIP_RETURN_CODE 77 LABELS lab)
endfunction()
