# Our own targets build warning-free with these; third-party headers are SYSTEM.
function(vadu_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# Components land one at a time; a folder joins the build once it has a CMakeLists.txt.
function(vadu_add_present_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
