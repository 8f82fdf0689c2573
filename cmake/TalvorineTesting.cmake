# Tests: GoogleTest executables discovered by CTest. Slow ones (the protocol's 30 s and 60 s
# time-outs) get the label "slow" so they can be run or skipped as a group.
include(CTest)
find_package(GTest REQUIRED)
include(GoogleTest)

# talvorine_add_test(<name> SOURCES ... LIBS ... [SLOW] [TIMEOUT seconds])
function(talvorine_add_test name)
  cmake_parse_arguments(ARG "SLOW" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock
                                        Talvorine::Options)
  if(NOT ARG_TIMEOUT)
    if(ARG_SLOW)
      set(ARG_TIMEOUT 300)
    else()
      set(ARG_TIMEOUT 60)
    endif()
  endif()
  set(labels ${name})
  if(ARG_SLOW)
    list(APPEND labels slow)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 30
    PROPERTIES LABELS "${labels}" TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
