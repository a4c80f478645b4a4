# Checks the platform seam in a source tree; run as a script:
#   cmake -DROOT=<tree> -DENGINE_FOLDERS=core,render,... [-DEXPECT=<file>] -P check_seam.cmake
#
# Engine code (the engine folders that exist under ROOT) may include the engine's own headers,
# the standard library and the layer's public headers by their Windows names. It may not
# include SDL2, OpenGL, GTK or the layer's other back-end libraries, any header of platform/ by
# path, or a *_local.h of a folder it does not belong to (a file in core/files/archive may use
# core/files/files_local.h; core/script may not). Tests, benchmarks and fuzzers may include SDL2
# and OpenGL for their raw peers and the layer's *_testing.h headers, but no private header of
# the layer (*_local.h), except tests/platform, which holds the layer's own tests.
#
# Every fault is printed as "file:line: include: why". Without EXPECT the script fails when it
# finds any. With EXPECT (a file of "file:line: include" lines) it fails unless it finds
# exactly those faults, which proves on a tree of planted faults that the check sees them all.

if(NOT ROOT OR NOT ENGINE_FOLDERS)
  message(FATAL_ERROR "usage: cmake -DROOT=<tree> -DENGINE_FOLDERS=core,render,... "
                      "[-DEXPECT=<file>] -P check_seam.cmake")
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)
string(REPLACE "," ";" ENGINE_FOLDERS "${ENGINE_FOLDERS}")

# Headers of the libraries only the layer may use: SDL2, OpenGL (with EGL and GLX), GTK and the
# libraries under it (GLib, GDK, Pango, cairo, ATK), X11, and the audio and image codecs.
set(BACKEND_HEADER
  "^(SDL2/|SDL[_.]|GL/|GLES[0-9]*/|EGL/|KHR/|glad/|epoxy/|gtk/|gdk/|gdk-pixbuf/|glib/|glib\\.h$|glib-object\\.h$|gio/|gobject/|pango/|cairo|atk/|X11/|vorbis/|ogg/|jpeglib\\.h$|png\\.h$)")

# The include directives of a file as a list of "line|name" entries. The text is split into
# lines by hand because CMake lists treat ';' and brackets specially.
function(read_includes file out)
  file(READ "${file}" text)
  string(REPLACE ";" "" text "${text}")
  string(REPLACE "[" "" text "${text}")
  string(REPLACE "]" "" text "${text}")
  string(REPLACE "\\" "/" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(found "")
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
      list(APPEND found "${number}|${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# The tree-relative path an include names: beside the including file when it exists there or
# when the name starts with '.', else from the top of the tree (the project's include root).
function(resolve file name out)
  get_filename_component(dir "${file}" DIRECTORY)
  get_filename_component(beside "${name}" ABSOLUTE BASE_DIR "${dir}")
  if(name MATCHES "^\\." OR EXISTS "${beside}")
    file(RELATIVE_PATH path "${ROOT}" "${beside}")
  else()
    get_filename_component(path "${name}" ABSOLUTE BASE_DIR "${ROOT}")
    file(RELATIVE_PATH path "${ROOT}" "${path}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

set(faults "")
set(messages "")
macro(fault rel number name why)
  list(APPEND faults "${rel}:${number}: ${name}")
  string(APPEND messages "${rel}:${number}: ${name}: ${why}\n")
endmacro()

# Engine folders.
foreach(folder IN LISTS ENGINE_FOLDERS)
  if(NOT IS_DIRECTORY "${ROOT}/${folder}")
    continue()
  endif()
  file(GLOB_RECURSE files LIST_DIRECTORIES false
    "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.hpp" "${ROOT}/${folder}/*.inl"
    "${ROOT}/${folder}/*.cpp" "${ROOT}/${folder}/*.cc")
  foreach(file IN LISTS files)
    file(RELATIVE_PATH rel "${ROOT}" "${file}")
    get_filename_component(rel_dir "${rel}" DIRECTORY)
    read_includes("${file}" includes)
    foreach(entry IN LISTS includes)
      string(REGEX REPLACE "\\|.*" "" number "${entry}")
      string(REGEX REPLACE "^[0-9]+\\|" "" name "${entry}")
      resolve("${file}" "${name}" path)
      if(name MATCHES "${BACKEND_HEADER}")
        fault("${rel}" ${number} "${name}" "a back-end library of the platform layer")
      elseif(path MATCHES "^platform/")
        fault("${rel}" ${number} "${name}"
              "the layer is included by its public headers' Windows names (<windows.h>), never by path")
      elseif(path MATCHES "_local\\.h$")
        get_filename_component(owner "${path}" DIRECTORY)
        string(FIND "${rel_dir}/" "${owner}/" at)
        if(NOT at EQUAL 0)
          fault("${rel}" ${number} "${name}" "private to ${owner}/")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

# Tests, benchmarks and fuzzers.
file(GLOB_RECURSE files LIST_DIRECTORIES false
  "${ROOT}/tests/*.h" "${ROOT}/tests/*.cpp" "${ROOT}/bench/*.h" "${ROOT}/bench/*.cpp"
  "${ROOT}/fuzz/*.h" "${ROOT}/fuzz/*.cpp")
foreach(file IN LISTS files)
  file(RELATIVE_PATH rel "${ROOT}" "${file}")
  if(rel MATCHES "^tests/platform/")
    continue()
  endif()
  read_includes("${file}" includes)
  foreach(entry IN LISTS includes)
    string(REGEX REPLACE "\\|.*" "" number "${entry}")
    string(REGEX REPLACE "^[0-9]+\\|" "" name "${entry}")
    resolve("${file}" "${name}" path)
    if(path MATCHES "^platform/.*_local\\.h$")
      fault("${rel}" ${number} "${name}"
            "private to the layer; tests of programs use its *_testing.h headers")
    endif()
  endforeach()
endforeach()

if(DEFINED EXPECT)
  file(STRINGS "${EXPECT}" expected REGEX "^[^#]")
  list(SORT expected)
  list(SORT faults)
  if(NOT faults STREQUAL expected)
    string(REPLACE ";" "\n  " want "${expected}")
    string(REPLACE ";" "\n  " got "${faults}")
    message(FATAL_ERROR "the seam check did not find the planted faults\nexpected:\n  ${want}\n"
                        "found:\n  ${got}\n${messages}")
  endif()
  list(LENGTH faults count)
  message(STATUS "the seam check found all ${count} planted faults and nothing else")
elseif(faults)
  message(FATAL_ERROR "the platform seam is crossed:\n${messages}")
else()
  message(STATUS "the platform seam holds in ${ROOT}")
endif()
