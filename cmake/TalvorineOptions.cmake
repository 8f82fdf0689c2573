# The INTERFACE target every project target links: language level and warnings.
add_library(talvorine_options INTERFACE)
add_library(Talvorine::Options ALIAS talvorine_options)

target_compile_features(talvorine_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(talvorine_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)

# GCC 12 at -O3 reports -Wrestrict on its own inlined std::string concatenation
# ("x" + std::string), a known false positive of that release; other warnings stay on.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(talvorine_options INTERFACE -Wno-restrict)
endif()

option(TALVORINE_WERROR "Treat warnings as errors" OFF)
if(TALVORINE_WERROR)
  target_compile_options(talvorine_options INTERFACE -Werror)
endif()

option(TALVORINE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TALVORINE_SANITIZE)
  target_compile_options(talvorine_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(talvorine_options INTERFACE -fsanitize=address,undefined)
endif()

find_package(Threads REQUIRED)
