# Fails the build when a layer includes one above it: disk/ <- views/ <-
# recovery/, scan/, tools/ <- app/, cli/, setup/, uninstall/. Each folder may
# include only the folders its layer lists, and none of them includes Qt. Run as a script at every build:
#   cmake -DSOURCE_DIR=<repository> -P cmake/LayerCheck.cmake
cmake_minimum_required(VERSION 3.25)

function(gleaner_check_layers)
  set(allowed_disk disk)
  set(allowed_views disk views)
  set(allowed_recovery disk views recovery)
  set(allowed_scan disk views recovery scan)
  set(allowed_tools disk views recovery tools)
  set(allowed_cli disk views recovery scan tools cli)
  set(layers disk views recovery scan tools cli)
  set(known disk views recovery scan tools app cli setup uninstall)
  set(errors "")
  foreach(layer ${layers})
    file(GLOB_RECURSE sources
      ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
    foreach(source ${sources})
      # The window's toolkit stays in app/ (and the installer's setup/).
      file(STRINGS ${source} qt REGEX "^[ \t]*#[ \t]*include[ \t]+<Q")
      if(qt)
        file(RELATIVE_PATH rel ${SOURCE_DIR} ${source})
        string(APPEND errors "  ${rel}: Qt belongs to app/\n")
      endif()
      file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[a-z_]+/")
      foreach(line ${includes})
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([a-z_]+)/.*" "\\1" folder "${line}")
        if(folder IN_LIST known AND NOT folder IN_LIST allowed_${layer})
          file(RELATIVE_PATH rel ${SOURCE_DIR} ${source})
          string(APPEND errors "  ${rel}: ${line}\n")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(errors)
    message(FATAL_ERROR "A layer includes one above it:\n${errors}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  gleaner_check_layers()
endif()
