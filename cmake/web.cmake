# The web page: the same dialogue compiled to WebAssembly, its standard
# streams wired to the page, all in one HTML file that needs no network and
# opens from disk. Included from the top-level list under emcmake; run with
# -P it is the build step that puts the program into the page.
if(CMAKE_SCRIPT_MODE_FILE)
  file(READ ${script} program)
  file(READ ${template} page)
  # The program goes inline into a <script>: nothing in it may close that.
  string(FIND "${program}" "</script" closing)
  if(NOT closing EQUAL -1)
    message(FATAL_ERROR "${script} contains </script")
  endif()
  string(REPLACE "@PATHLOSS_PROGRAM@" "${program}" page "${page}")
  file(WRITE ${output} "${page}")
  return()
endif()

# One module for the page and for node, which runs every transcript through
# it. SINGLE_FILE carries the wasm inside the script, so no browser fetches
# a second file (which from file:// it could not) and node does not try to.
add_executable(pathloss src/web_main.cpp)
target_link_libraries(pathloss PRIVATE pathloss_dialogue)
target_link_options(pathloss PRIVATE
  -sASYNCIFY -sMODULARIZE -sEXPORT_NAME=createPathloss -sSINGLE_FILE
  -sENVIRONMENT=web,node -sFILESYSTEM=0 -sNODEJS_CATCH_EXIT=0 -sNODEJS_CATCH_REJECTION=0)
# The link runs emscripten's JavaScript tools under node, and they need
# Debian's node modules, where a node from elsewhere (NodeSource's) does not
# look.
set_property(TARGET pathloss PROPERTY CXX_LINKER_LAUNCHER
             ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)

set(template ${PROJECT_SOURCE_DIR}/web/pathloss.html.in)
add_custom_command(OUTPUT pathloss.html
  COMMAND ${CMAKE_COMMAND} -Dscript=$<TARGET_FILE:pathloss> -Dtemplate=${template}
          -Doutput=pathloss.html -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS pathloss ${template} ${CMAKE_CURRENT_LIST_FILE}
  VERBATIM)
add_custom_target(page ALL DEPENDS pathloss.html)
