# cmake -DFILES="a.cpp;b.h" [-DROOT=<source tree>] -P CheckPureIncludes.cmake
# Fails when any of the files includes a Qt, OpenCV, POSIX, GL or platform/ header:
# the libraries these files belong to are meant to build with the standard library alone.
# A platform/ header that is itself one of FILES (an adapter's interface, checked here too) is
# allowed.
cmake_minimum_required(VERSION 3.20)
if(NOT DEFINED FILES)
  message(FATAL_ERROR "FILES is not set")
endif()
set(forbidden
  "Q[A-Za-z]+"           # Qt classes and modules
  "Qt[A-Za-z]+/"
  "opencv2/"
  "unistd\\.h" "fcntl\\.h" "pthread\\.h" "pwd\\.h" "dirent\\.h" "dlfcn\\.h" "poll\\.h" "termios\\.h"
  "sys/" "netinet/" "arpa/"
  "epoxy/" "EGL/" "GL/" "SDL" "enet/" "libav[a-z]+/" "libswscale/" "libheif/"
  "platform/")
list(JOIN forbidden "|" alternatives)
set(pattern "#[ \t]*include[ \t]*[<\"](${alternatives})")
set(failures 0)
foreach(file IN LISTS FILES)
  file(STRINGS "${file}" lines REGEX "${pattern}")
  foreach(line IN LISTS lines)
    if(DEFINED ROOT AND line MATCHES "#[ \t]*include[ \t]*\"(platform/[^\"]+)\"")
      if("${ROOT}/${CMAKE_MATCH_1}" IN_LIST FILES)
        continue()
      endif()
    endif()
    message(SEND_ERROR "${file}: not allowed in a pure library: ${line}")
    math(EXPR failures "${failures} + 1")
  endforeach()
endforeach()
list(LENGTH FILES count)
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} forbidden include(s) in ${count} files")
endif()
message(STATUS "${count} files of pure libraries include only standard and pure headers")
