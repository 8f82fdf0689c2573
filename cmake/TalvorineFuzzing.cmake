# Fuzz targets: clang's libFuzzer, built only by the "fuzz" preset. A folder with targets keeps
# them in tests/fuzz/ with a CMakeLists.txt there that calls talvorine_add_fuzz_target; each
# target's seed corpus is tests/fuzz/corpus/<target>/ (see docs/fuzzing.md).
option(TALVORINE_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(TALVORINE_FUZZ)
  # Every library the targets link is instrumented for coverage and checked by the sanitizers.
  target_compile_options(talvorine_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(talvorine_options INTERFACE -fsanitize=address,undefined)
  add_custom_target(fuzz-targets)
endif()

# talvorine_add_fuzz_target(<name> SOURCES ... LIBS ...)
function(talvorine_add_fuzz_target name)
  if(NOT TALVORINE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Talvorine::Options)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzz-targets ${name})
  set_property(GLOBAL APPEND PROPERTY TALVORINE_FUZZ_TARGETS
    "$<TARGET_FILE:${name}> ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name}")
endfunction()

# Writes <build>/fuzz-targets.txt, one "<program> <corpus folder>" line per target, which
# scripts/run-fuzz.sh reads.
function(talvorine_write_fuzz_list)
  if(NOT TALVORINE_FUZZ)
    return()
  endif()
  get_property(targets GLOBAL PROPERTY TALVORINE_FUZZ_TARGETS)
  list(JOIN targets "\n" content)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz-targets.txt CONTENT "${content}\n")
endfunction()
