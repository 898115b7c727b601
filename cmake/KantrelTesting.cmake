# GoogleTest is built from Debian's sources so that the same code serves the
# native build and both mingw-w64 builds.
if(KANTREL_TESTS AND NOT TARGET gtest)
  set(GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  include(GoogleTest)
endif()

# Where native tests drop the GIFs they make (see tools/gifwriter).
set(KANTREL_GIF_CORPUS_DIR "${CMAKE_BINARY_DIR}/gif-corpus")

# Public GIF test data, read in place beside the repository (a worktree one
# level deeper finds it too); tests that use it skip when it is absent.
if(NOT KANTREL_GIF_TESTDATA_DIR)
  set(KANTREL_GIF_TESTDATA_DIR "${PROJECT_SOURCE_DIR}/../shared/testdata/gif")
  if(NOT IS_DIRECTORY "${KANTREL_GIF_TESTDATA_DIR}" AND IS_DIRECTORY "${PROJECT_SOURCE_DIR}/../../shared/testdata/gif")
    set(KANTREL_GIF_TESTDATA_DIR "${PROJECT_SOURCE_DIR}/../../shared/testdata/gif")
  endif()
endif()

# kantrel_add_gtest(TARGET name SOURCES ... [LIBS ...] [SERIAL])
# One ctest case per TEST(); cross builds run them through the toolchain's emulator.
function(kantrel_add_gtest)
  cmake_parse_arguments(T "SERIAL" "TARGET" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_TARGET} ${T_SOURCES})
  target_link_libraries(${T_TARGET} PRIVATE ${T_LIBS} gtest gtest_main)
  gtest_add_tests(TARGET ${T_TARGET} SOURCES ${T_SOURCES}
                  TEST_PREFIX "${KANTREL_TEST_PREFIX}" TEST_LIST added)
  # Wine tests drive real windows: one at a time.
  if(T_SERIAL OR CMAKE_CROSSCOMPILING)
    set_tests_properties(${added} PROPERTIES RUN_SERIAL ON)
  endif()
  # Under the sanitizers the longest decoder tests take over a minute, and
  # on a busy machine more than two.
  if(KANTREL_SANITIZE)
    set_tests_properties(${added} PROPERTIES TIMEOUT 600)
  else()
    set_tests_properties(${added} PROPERTIES TIMEOUT 120)
  endif()
  # Native tests save every GIF they make into the fuzz corpus, which the
  # fuzz replay reads after them.
  if(NOT CMAKE_CROSSCOMPILING)
    set_tests_properties(${added} PROPERTIES
      ENVIRONMENT "KANTREL_GIF_CORPUS_DIR=${KANTREL_GIF_CORPUS_DIR}"
      FIXTURES_SETUP kantrel_gif_corpus)
  endif()
endfunction()
