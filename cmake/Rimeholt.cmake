# Build helpers shared by every folder of the project.

if(RIMEHOLT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(RIMEHOLT_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "RIMEHOLT_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  # Undefined behaviour aborts (no recovery), so that libFuzzer records it like a crash.
  add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Our own code builds warning-free; third-party headers come in as system includes.
function(rh_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# rh_library(NAME [sources...] [LIBS ...]): a static library of our own code.
function(rh_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PUBLIC_INCLUDE" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  rh_warnings(${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${ARG_PUBLIC_INCLUDE})
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
endfunction()

# Every test target is aggregated here so that one build target builds them all.
if(NOT TARGET rh_tests)
  add_custom_target(rh_tests)
endif()

# rh_add_test(NAME LABEL label SOURCES ... LIBS ... [RESOURCES script] [ENV k=v ...])
# One GoogleTest executable whose cases are registered with CTest under the label.
function(rh_add_test name)
  cmake_parse_arguments(ARG "" "LABEL;RESOURCES" "SOURCES;LIBS;ENV" ${ARGN})
  if(RIMEHOLT_TEST_LABELS AND NOT ARG_LABEL IN_LIST RIMEHOLT_TEST_LABELS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  rh_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock rh_test_main)
  if(ARG_RESOURCES)
    rh_add_resources(${name} ${ARG_RESOURCES})
  endif()
  add_dependencies(rh_tests ${name})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${ARG_LABEL}
               ENVIRONMENT "SDL_VIDEODRIVER=offscreen;SDL_AUDIODRIVER=dummy;${ARG_ENV}")
endfunction()

# rh_add_fuzzer(NAME SOURCES ... LIBS ...): a libFuzzer target, built only with RIMEHOLT_FUZZ.
function(rh_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT RIMEHOLT_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  rh_warnings(${name})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()

# rh_add_resources(target script): compiles a resource script into a table linked into the
# target, so that FindResourceA and friends answer from it.
function(rh_add_resources target script)
  get_filename_component(script_dir ${script} DIRECTORY)
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  set(out_cpp ${out_dir}/resource_table.cpp)
  set(out_asm ${out_dir}/resource_data.S)
  set(depfile ${out_dir}/resources.d)
  add_custom_command(
    OUTPUT ${out_cpp} ${out_asm}
    COMMAND rh_rescomp ${script} ${out_dir} ${depfile}
    DEPENDS rh_rescomp ${script}
    DEPFILE ${depfile}
    COMMENT "Compiling resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out_cpp} ${out_asm})
  target_link_libraries(${target} PRIVATE rh_platform_win32)
endfunction()
