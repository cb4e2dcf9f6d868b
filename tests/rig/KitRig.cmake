# Helpers for tests that need pcscd with virtual readers (pcsc-rig.sh).
#
#   add_rig_test(NAME name READERS "Kit Plain;OMNIKEY Kit" COMMAND cmd args...
#                [ENVIRONMENT "VAR=value;..."])
#     one CTest test running cmd inside its own rig.
#   add_rig_gtest(TARGET exe READERS ... [FILTER "Suite.*"] [PREFIX p])
#     every GoogleTest case of exe (matching FILTER) as its own CTest test,
#     each inside a fresh rig with those readers.
# Reader i gets port 35963 + 2*i; see pcsc-rig.sh for what the command sees.
# The command also finds the build's lib/ folder (the stand-ins) first on
# LD_LIBRARY_PATH, so the loaders reach them by plain name, and LSAN_OPTIONS
# names the suppressions of lsan-pcsclite.supp (see rig/CMakeLists.txt).
set(KIT_RIG_SCRIPT ${CMAKE_BINARY_DIR}/tests/rig/pcsc-rig-tests)

function(add_rig_test)
  cmake_parse_arguments(ARG "" "NAME" "READERS;COMMAND;ENVIRONMENT" ${ARGN})
  list(JOIN ARG_READERS "|" readers)
  add_test(NAME ${ARG_NAME} COMMAND ${KIT_RIG_SCRIPT} -- ${ARG_COMMAND})
  set_tests_properties(${ARG_NAME} PROPERTIES ENVIRONMENT "KIT_RIG_READERS=${readers};${ARG_ENVIRONMENT}" TIMEOUT 120)
endfunction()

function(add_rig_gtest)
  cmake_parse_arguments(ARG "" "TARGET;FILTER;PREFIX" "READERS" ${ARGN})
  list(JOIN ARG_READERS "|" readers)
  set_property(TARGET ${ARG_TARGET} PROPERTY CROSSCOMPILING_EMULATOR ${KIT_RIG_SCRIPT})
  if(NOT ARG_FILTER)
    set(ARG_FILTER "*")
  endif()
  # The discovered tests' properties are written out item by item, so the
  # environment can carry one variable only: the readers.
  gtest_discover_tests(${ARG_TARGET} TEST_FILTER "${ARG_FILTER}" TEST_PREFIX "${ARG_PREFIX}"
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "KIT_RIG_READERS=${readers}" TIMEOUT 120)
endfunction()
