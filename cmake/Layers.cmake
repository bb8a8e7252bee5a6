# One static library per layer, made of the .cpp files of its folder (not of subfolders).
# Headers are included from the repository root: #include "transport/link.h".
#
# OS_FOLDERS: the layer also takes the .cpp files of the subfolder named after the target's
# operating system: posix/ for Linux, win32/ for Windows. One file per OS behind one header.
function(lumivex_layer target)
  cmake_parse_arguments(ARG "OS_FOLDERS" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(ARG_OS_FOLDERS)
    if(WIN32)
      set(os_folder win32)
    else()
      set(os_folder posix)
    endif()
    file(GLOB os_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${os_folder}/*.cpp)
    list(APPEND sources ${os_sources})
  endif()
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    lumivex_warnings(${target})
  else()
    # A layer whose folder holds only headers so far.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()
