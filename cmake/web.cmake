# The web page: the same dialogue compiled to WebAssembly, its standard
# streams wired to the page, all in one HTML file that needs no network and
# opens from disk; and the installable site, the same page with a manifest,
# icons and a worker that keeps them for use offline. Included from the
# top-level list under emcmake; run with -P it is the build step that puts
# the program into the page (-Dsite=DIR: into the site in DIR).
if(CMAKE_SCRIPT_MODE_FILE)
  file(READ ${script} program)
  file(READ ${web}/pathloss.html.in page)
  # The program goes inline into a <script>: nothing in it may close that.
  string(FIND "${program}" "</script" closing)
  if(NOT closing EQUAL -1)
    message(FATAL_ERROR "${script} contains </script")
  endif()
  set(head "<link rel=\"icon\" href=\"data:,\">")
  set(self "")
  set(sources "")
  if(site)
    file(READ ${web}/site-head.html head)
    string(STRIP "${head}" head)
    set(self "'self' ")
    set(sources "; manifest-src 'self'; worker-src 'self'")
    set(output ${site}/index.html)
    file(COPY ${web}/manifest.webmanifest DESTINATION ${site})
  endif()
  string(REPLACE "@PATHLOSS_HEAD@" "${head}" page "${page}")
  string(REPLACE "@PATHLOSS_SELF@" "${self}" page "${page}")
  string(REPLACE "@PATHLOSS_SITE_SOURCES@" "${sources}" page "${page}")
  # Last, so that nothing in the program is taken for a placeholder.
  string(REPLACE "@PATHLOSS_PROGRAM@" "${program}" page "${page}")
  file(WRITE ${output} "${page}")
  if(site)
    # The worker keeps every file of the site, its folder's address too, in
    # a store named by the version and the files' digest: a changed file,
    # in a release or a rebuild, is a new worker and a new store.
    file(GLOB files RELATIVE ${site} ${site}/*)
    list(REMOVE_ITEM files sw.js)
    list(SORT files)
    set(digests "")
    set(names "\"./\"")
    foreach(name IN LISTS files)
      file(SHA256 ${site}/${name} digest)
      string(APPEND digests "${digest} ${name}\n")
      string(APPEND names ", \"${name}\"")
    endforeach()
    string(SHA256 digest "${digests}")
    string(SUBSTRING ${digest} 0 16 digest)
    file(READ ${web}/sw.js.in worker)
    string(REPLACE "@PATHLOSS_STORE@" "${version} ${digest}" worker "${worker}")
    string(REPLACE "@PATHLOSS_FILES@" "${names}" worker "${worker}")
    file(WRITE ${site}/sw.js "${worker}")
  endif()
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

set(web ${PROJECT_SOURCE_DIR}/web)
add_custom_command(OUTPUT pathloss.html
  COMMAND ${CMAKE_COMMAND} -Dscript=$<TARGET_FILE:pathloss> -Dweb=${web}
          -Doutput=pathloss.html -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS pathloss ${web}/pathloss.html.in ${CMAKE_CURRENT_LIST_FILE}
  VERBATIM)
add_custom_target(page ALL DEPENDS pathloss.html)

# The site, for the release (cmake --build DIR --target site): its icons
# need librsvg's rsvg-convert, which the tests do without. A launcher cuts
# the maskable icon to its own shape and iOS rounds the home-screen icon's
# corners itself, so those two are filled to the edge with the icon's
# ground.
find_program(RSVG_CONVERT rsvg-convert)
set(icons site/icon-192.png site/icon-512.png site/icon-maskable.png site/apple-touch-icon.png)
set(ground "#0b3d5c")
add_custom_command(OUTPUT ${icons}
  COMMAND ${CMAKE_COMMAND} -E make_directory site
  COMMAND ${RSVG_CONVERT} -w 192 -h 192 -o site/icon-192.png ${web}/icon.svg
  COMMAND ${RSVG_CONVERT} -w 512 -h 512 -o site/icon-512.png ${web}/icon.svg
  COMMAND ${RSVG_CONVERT} -b ${ground} -w 512 -h 512 -o site/icon-maskable.png ${web}/icon.svg
  COMMAND ${RSVG_CONVERT} -b ${ground} -w 180 -h 180 -o site/apple-touch-icon.png ${web}/icon.svg
  DEPENDS ${web}/icon.svg
  VERBATIM)
add_custom_command(OUTPUT site/index.html site/manifest.webmanifest site/sw.js
  COMMAND ${CMAKE_COMMAND} -Dscript=$<TARGET_FILE:pathloss> -Dweb=${web} -Dsite=${CMAKE_CURRENT_BINARY_DIR}/site
          -Dversion=${PROJECT_VERSION} -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS pathloss ${icons} ${web}/pathloss.html.in ${web}/site-head.html
          ${web}/manifest.webmanifest ${web}/sw.js.in ${CMAKE_CURRENT_LIST_FILE}
  VERBATIM)
add_custom_target(site DEPENDS site/index.html site/manifest.webmanifest site/sw.js)
