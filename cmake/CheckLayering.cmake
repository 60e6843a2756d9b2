# cmake -DROOT=<source tree> [-DFILES=...] -P CheckLayering.cmake
# The arrows between the libraries run one way: app/ -> creator/ -> platform/, and the renderer
# (studio/gpu, the GPU records of studio/) is used by the app alone. Fails when
#   - a file of creator/ includes a renderer header, or
#   - a file of platform/ (an adapter) includes a creator/ header.
# An interface an adapter implements lives in platform/ beside the adapter.
cmake_minimum_required(VERSION 3.20)
if(NOT DEFINED ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()
set(renderer "#[ \t]*include[ \t]*\"studio/(gpu/|StageTypes\\.h|SetGeometry\\.h)")
set(feature "#[ \t]*include[ \t]*\"creator/")
if(DEFINED FILES)
  set(files ${FILES})
else()
  file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/creator/*.h ${ROOT}/creator/*.cpp
       ${ROOT}/platform/*.h ${ROOT}/platform/*.cpp)
endif()
set(failures 0)
foreach(file IN LISTS files)
  if(file MATCHES "^creator/")
    set(pattern "${renderer}")
    set(why "feature code may not include the renderer")
  elseif(file MATCHES "^platform/")
    set(pattern "${feature}")
    set(why "an adapter may not include creator/")
  else()
    continue()
  endif()
  file(STRINGS "${ROOT}/${file}" lines REGEX "${pattern}")
  foreach(line IN LISTS lines)
    message(SEND_ERROR "${file}: ${why}: ${line}")
    math(EXPR failures "${failures} + 1")
  endforeach()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} include(s) against the layering")
endif()
message(STATUS "creator/ and platform/ include only what their layer may")
