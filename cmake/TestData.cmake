# The files tests, fuzz seeds and benchmarks read: real public samples kept in
# the repository (tests/data/SOURCES.md lists their origins and licences).
# A fresh clone has nothing beside it, so the folder must lie inside the
# source tree.
set(KMZTILE_TEST_DATA "${PROJECT_SOURCE_DIR}/tests/data")
cmake_path(ABSOLUTE_PATH KMZTILE_TEST_DATA NORMALIZE OUTPUT_VARIABLE _kmztile_test_data)
cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${_kmztile_test_data}" NORMALIZE _kmztile_inside)
if(NOT _kmztile_inside)
  message(FATAL_ERROR "KMZTILE_TEST_DATA (${KMZTILE_TEST_DATA}) lies outside the source tree ${PROJECT_SOURCE_DIR}; "
                      "tests may only read files the repository holds")
endif()
if(NOT EXISTS "${_kmztile_test_data}/SOURCES.md")
  message(FATAL_ERROR "${_kmztile_test_data}/SOURCES.md is missing: the test data folder is incomplete")
endif()
