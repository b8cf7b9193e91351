# Compile settings shared by every target of the project.

set(TARNLINK_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wno-missing-field-initializers)

if(TARNLINK_SANITIZE)
  # Kernel code is built without RTTI, so the dynamic-type check (which needs type information)
  # cannot see its classes from the tests that call them.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Fuzz builds (clang only): every library carries libFuzzer's coverage instrumentation; the fuzz
# targets themselves link with -fsanitize=fuzzer (see fuzz/).
if(TARNLINK_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Product and platform code: warnings are errors.
# The fuzz build uses clang, whose warnings differ from the compiler that polices them; there
# they stay warnings.
function(tarnlink_strict target)
  if(TARNLINK_FUZZ)
    target_compile_options(${target} PRIVATE ${TARNLINK_WARNINGS})
  else()
    target_compile_options(${target} PRIVATE ${TARNLINK_WARNINGS} -Werror)
  endif()
endfunction()

# Kernel-mode code: kernel C++ without exceptions or RTTI.
function(tarnlink_kernel_mode target)
  tarnlink_strict(${target})
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
endfunction()

# tarnlink_test(<name> [STREAMING] SOURCES <files...> LIBS <targets...>)
# A GoogleTest executable whose cases are registered with CTest one by one. Parameterised cases
# keep the names their name generators give (NO_PRETTY_VALUES), so that a test's CTest name is
# the same in every build and `-R` and `--rerun-failed` find it. STREAMING labels them
# `streaming`: scripts/test runs those again under schedule seeds.
function(tarnlink_test name)
  cmake_parse_arguments(ARG "STREAMING" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  tarnlink_strict(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  target_precompile_headers(${name} REUSE_FROM tarnlink_test_pch)
  set(labels "")
  if(ARG_STREAMING)
    set(labels streaming)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                       PROPERTIES LABELS "${labels}")
endfunction()
