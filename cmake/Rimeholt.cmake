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

# The platform seam. Engine code (these folders, where they exist) includes the engine's own
# headers and the layer's public headers in platform/include, named as on Windows; never a
# layer-private header, SDL2, OpenGL or GTK. The compiler enforces the first part: engine
# targets get no include path to the project root but one to a folder of links that holds only
# the engine folders, so "platform/..." does not resolve there. cmake/check_seam.cmake checks
# the rest (system headers are always reachable) as the test rh_platform_seam.
set(RH_ENGINE_FOLDERS core render saver scene gui)
set(RH_ENGINE_INCLUDE_DIR ${CMAKE_BINARY_DIR}/engine_include)
file(MAKE_DIRECTORY ${RH_ENGINE_INCLUDE_DIR})
foreach(folder IN LISTS RH_ENGINE_FOLDERS)
  if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${folder} AND NOT EXISTS ${RH_ENGINE_INCLUDE_DIR}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${RH_ENGINE_INCLUDE_DIR}/${folder} SYMBOLIC)
  endif()
endforeach()

# rh_library(NAME SOURCES ... [LIBS ...] [PUBLIC_INCLUDE ...]): a static library of our own
# code. Its include rules follow from its folder: a library of the platform layer sees the
# whole tree (one family may share another's private header) and gives whoever links it only
# platform/include; an engine library sees, and gives, the engine folders and platform/include.
function(rh_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PUBLIC_INCLUDE" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  rh_warnings(${name})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" folder "${folder}")
  if(folder STREQUAL "platform")
    target_include_directories(${name}
      PRIVATE ${PROJECT_SOURCE_DIR}
      PUBLIC ${PROJECT_SOURCE_DIR}/platform/include ${ARG_PUBLIC_INCLUDE})
  elseif(folder IN_LIST RH_ENGINE_FOLDERS)
    target_include_directories(${name}
      PUBLIC ${RH_ENGINE_INCLUDE_DIR} ${PROJECT_SOURCE_DIR}/platform/include ${ARG_PUBLIC_INCLUDE})
  else()
    message(FATAL_ERROR "rh_library(${name}): ${folder}/ is neither the platform layer nor an "
                        "engine folder (RH_ENGINE_FOLDERS)")
  endif()
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
endfunction()

# rh_host_tool(NAME LIBRARY sources... [EXECUTABLE sources...]): a tool of the build machine,
# as the library rh_NAME_lib and, with EXECUTABLE, the program rh_NAME over it. Tools run
# during the build and their libraries are linked into tests as plain code, so they are built
# without the sanitizer or fuzzer instrumentation the rest of a build may carry: the
# directory-wide options are replaced, not added to.
function(rh_host_tool name)
  cmake_parse_arguments(ARG "" "" "LIBRARY;EXECUTABLE" ${ARGN})
  set(targets rh_${name}_lib)
  add_library(rh_${name}_lib STATIC ${ARG_LIBRARY})
  if(ARG_EXECUTABLE)
    add_executable(rh_${name} ${ARG_EXECUTABLE})
    target_link_libraries(rh_${name} PRIVATE rh_${name}_lib)
    list(APPEND targets rh_${name})
  endif()
  foreach(t ${targets})
    target_include_directories(${t} PUBLIC ${PROJECT_SOURCE_DIR})
    set_property(TARGET ${t} PROPERTY COMPILE_OPTIONS -Wall -Wextra -Werror)
    set_property(TARGET ${t} PROPERTY LINK_OPTIONS "")
  endforeach()
endfunction()

# Every test target is aggregated here so that one build target builds them all.
if(NOT TARGET rh_tests)
  add_custom_target(rh_tests)
endif()

# rh_add_test(NAME LABEL label SOURCES ... LIBS ... [RESOURCES script] [ENV k=v ...] [LOCK name])
# One GoogleTest executable whose cases are registered with CTest under the label. Cases with
# the same LOCK never run at the same time (for example, ones that move the input focus).
function(rh_add_test name)
  cmake_parse_arguments(ARG "" "LABEL;RESOURCES;LOCK" "SOURCES;LIBS" ${ARGN})
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
  set(lock "")
  if(ARG_LOCK)
    set(lock RESOURCE_LOCK ${ARG_LOCK})
  endif()
  # One value for ENVIRONMENT, and last: the discovered tests get their properties as a flat
  # list, so a second variable shifted every pair after it and the lock was lost. The tests'
  # main sets the audio driver instead.
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${ARG_LABEL}
               ${lock}
               ENVIRONMENT SDL_VIDEODRIVER=offscreen)
endfunction()

# rh_add_fuzzer(NAME SOURCES ... LIBS ...): a libFuzzer target, built only with RIMEHOLT_FUZZ.
function(rh_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT RIMEHOLT_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  rh_warnings(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
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
  # Files the build makes and scripts embed (the audio library): targets that add themselves
  # to the global property RH_GENERATED_RESOURCES, built before any table is compiled.
  get_property(generated GLOBAL PROPERTY RH_GENERATED_RESOURCES)
  add_custom_command(
    OUTPUT ${out_cpp} ${out_asm}
    COMMAND rh_rescomp ${script} ${out_dir} ${depfile}
    DEPENDS rh_rescomp ${script} ${generated}
    DEPFILE ${depfile}
    COMMENT "Compiling resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out_cpp} ${out_asm})
  # The saver's script embeds the media archive, which must exist before the first compile
  # (later changes reach the compile through the depfile).
  if(script STREQUAL RIMEHOLT_RESOURCE_SCRIPT)
    add_dependencies(${target} rh_media)
  endif()
  # The pictures the script names are drawn by the build before it is compiled.
  if(TARGET rh_pictures)
    add_dependencies(${target} rh_pictures)
  endif()
  # The table is the layer's, whatever target it is linked into.
  set_source_files_properties(${out_cpp} PROPERTIES INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE rh_platform_win32)
endfunction()

# The media archive: one RAR archive of everything the saver shows, embedded as the saver's
# "MemFile" resource 227. Two sources fill it:
#  - files the build's media tools write below RIMEHOLT_MEDIA_DIR, which is the archive's root
#    (RIMEHOLT_MEDIA_DIR/Media/Txt/snow.jpg is the member "Media\Txt\snow.jpg"). A tool
#    registers them with rh_media_outputs(TARGET files...): the target that makes them, and
#    their full paths;
#  - the hand-written folder media/ of the source tree, as the archive's folder "Media"
#    (media/Shaders/x.fx is the member "Media\Shaders\x.fx").
# The archive holds exactly the registered and hand-written files, in name order with fixed
# dates, so the same inputs give the same bytes; a name given twice fails the build.
function(rh_media_outputs target)
  foreach(file IN LISTS ARGN)
    cmake_path(IS_PREFIX RIMEHOLT_MEDIA_DIR "${file}" NORMALIZE inside)
    if(NOT inside)
      message(FATAL_ERROR "rh_media_outputs(${target}): ${file} is not below ${RIMEHOLT_MEDIA_DIR}")
    endif()
  endforeach()
  set_property(GLOBAL APPEND PROPERTY RH_MEDIA_OUTPUTS ${ARGN})
  set_property(GLOBAL APPEND PROPERTY RH_MEDIA_TARGETS ${target})
endfunction()

# rh_media_list(TARGET LIST): for a tool whose files are known only when it runs (named after
# the parts of a scene, say): the tool writes LIST, one line per file it wrote (member name
# with '/', a tab, the file's path), and the archive takes every file listed there.
function(rh_media_list target list_file)
  set_property(GLOBAL APPEND PROPERTY RH_MEDIA_LISTS ${list_file})
  set_property(GLOBAL APPEND PROPERTY RH_MEDIA_TARGETS ${target})
endfunction()

# rh_media_archive(ARCHIVE): the target rh_media, which writes ARCHIVE from the lists: the one
# beside it (ARCHIVE with ".list" for ".rar": the registered and hand-written files) and the
# tools' own. RIMEHOLT_MEDIA_LISTS names them all, for tests.
# Called once, after every folder that registers media.
function(rh_media_archive archive)
  get_property(outputs GLOBAL PROPERTY RH_MEDIA_OUTPUTS)
  get_property(targets GLOBAL PROPERTY RH_MEDIA_TARGETS)
  get_property(tool_lists GLOBAL PROPERTY RH_MEDIA_LISTS)
  file(GLOB_RECURSE handwritten LIST_DIRECTORIES false CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/media/*)
  # A saver run from the source folder finds media/Shaders on disk and keeps its compiled
  # effects beside the source; they are a cache of that run, not media.
  list(FILTER handwritten EXCLUDE REGEX "\\.fxo$")
  set(lines "")
  foreach(file IN LISTS outputs)
    file(RELATIVE_PATH name ${RIMEHOLT_MEDIA_DIR} ${file})
    string(APPEND lines "${name}\t${file}\n")
  endforeach()
  foreach(file IN LISTS handwritten)
    file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR}/media ${file})
    string(APPEND lines "Media/${name}\t${file}\n")
  endforeach()
  string(REGEX REPLACE "\\.rar$" ".list" list_file ${archive})
  # Written only when its text changes, so an unchanged list does not rebuild the archive.
  file(CONFIGURE OUTPUT ${list_file} CONTENT "${lines}" @ONLY)
  set(list_options --list ${list_file})
  foreach(tool_list IN LISTS tool_lists)
    list(APPEND list_options --list ${tool_list})
  endforeach()
  add_custom_command(
    OUTPUT ${archive}
    COMMAND rh_rarwrite ${list_options} ${archive}
    DEPENDS rh_rarwrite ${list_file} ${tool_lists} ${outputs} ${handwritten} ${targets}
    COMMENT "Packing the media archive"
    VERBATIM)
  add_custom_target(rh_media DEPENDS ${archive})
  set(RIMEHOLT_MEDIA_ARCHIVE ${archive} PARENT_SCOPE)
  set(RIMEHOLT_MEDIA_LIST ${list_file} PARENT_SCOPE)
  set(RIMEHOLT_MEDIA_LISTS ${list_file} ${tool_lists} PARENT_SCOPE)
endfunction()
