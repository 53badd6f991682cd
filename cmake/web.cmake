# The web page: the same dialogue compiled to WebAssembly, its standard
# streams wired to the page, all in one HTML file that needs no network and
# opens from disk; and the installable site, the same page with a manifest,
# icons and a worker that keeps them for use offline. Included from the
# top-level list under emcmake; run with -P it is the build step that puts
# the program into the page (-Dsite=DIR: into the site in DIR).
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_policy(VERSION 3.25)

  # Appends to the CSP directive DIRECTIVE a source for each inline <TAG> of
  # PAGE: the base64 of its text's SHA-256, which CMake gives only in hex.
  function(add_hashes page tag directive)
    set(digits "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
    while(TRUE)
      string(FIND "${page}" "<${tag}>" start)
      if(start EQUAL -1)
        break()
      endif()
      string(LENGTH "<${tag}>" length)
      math(EXPR start "${start} + ${length}")
      string(SUBSTRING "${page}" ${start} -1 page)
      string(FIND "${page}" "</${tag}>" end)
      string(SUBSTRING "${page}" 0 ${end} text)
      string(SUBSTRING "${page}" ${end} -1 page)
      # 32 bytes: ten groups of three make four digits each, the last two
      # bytes make three and the padding.
      string(SHA256 hex "${text}")
      string(APPEND hex "00")
      set(encoded "")
      foreach(group RANGE 0 10)
        math(EXPR at "${group} * 6")
        string(SUBSTRING ${hex} ${at} 6 bits)
        math(EXPR bits "0x${bits}")
        foreach(shift 18 12 6 0)
          math(EXPR digit "(${bits} >> ${shift}) & 63")
          string(SUBSTRING ${digits} ${digit} 1 digit)
          string(APPEND encoded ${digit})
        endforeach()
      endforeach()
      string(SUBSTRING ${encoded} 0 43 encoded)
      string(APPEND ${directive} " 'sha256-${encoded}='")
    endwhile()
    set(${directive} "${${directive}}" PARENT_SCOPE)
  endfunction()

  file(READ ${script} program)
  file(READ ${web}/pathloss.html.in page)
  # The program goes inline into a <script>: nothing in it may close that.
  string(FIND "${program}" "</script" closing)
  if(NOT closing EQUAL -1)
    message(FATAL_ERROR "${script} contains </script")
  endif()
  # From file:// no browser fetches a second file, so the page carries the
  # module in itself, gzipped, as base64. So does the site's: fetched as a
  # file of its own, through the worker, it made the installed app slower
  # to start in Firefox.
  execute_process(COMMAND gzip -9n -c ${module} COMMAND base64 -w0
                  OUTPUT_VARIABLE packed COMMAND_ERROR_IS_FATAL ANY)
  if(site)
    file(READ ${web}/site-head.html head)
    string(STRIP "${head}" head)
    set(policy "default-src 'self'; worker-src 'self'")
    set(output ${site}/index.html)
    file(COPY ${web}/manifest.webmanifest DESTINATION ${site})
  else()
    set(head "<link rel=\"icon\" href=\"data:,\">")
    set(policy "default-src 'none'; img-src data:")
  endif()
  string(REPLACE "@PATHLOSS_HEAD@" "${head}" page "${page}")
  string(REPLACE "@PATHLOSS_MODULE@" "${packed}" page "${page}")
  # Last, so that nothing in the program is taken for a placeholder.
  string(REPLACE "@PATHLOSS_PROGRAM@" "${program}" page "${page}")
  # Every inline script and style is allowed by its digest, and nothing
  # else inline; WebAssembly needs its own keyword. The policy's placeholder
  # comes before any script, so the first found is the template's own.
  set(scripts "script-src 'wasm-unsafe-eval'")
  add_hashes("${page}" script scripts)
  set(styles "style-src")
  add_hashes("${page}" style styles)
  string(FIND "${page}" "@PATHLOSS_POLICY@" at)
  string(SUBSTRING "${page}" 0 ${at} before)
  string(LENGTH "@PATHLOSS_POLICY@" length)
  math(EXPR at "${at} + ${length}")
  string(SUBSTRING "${page}" ${at} -1 after)
  file(WRITE ${output} "${before}${policy}; ${scripts}; ${styles}${after}")
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
# it: pathloss.js, and beside it pathloss.wasm, which the page carries
# inside and node reads. What the page costs at every start is mostly its
# size, hence -Oz and emscripten's small allocator.
add_executable(pathloss src/web_main.cpp)
target_link_libraries(pathloss PRIVATE pathloss_dialogue)
target_compile_options(pathloss_flags INTERFACE -Oz)
# Asyncify lets the program wait for a line, and it costs code in every
# function it might unwind: only those between main and the page's read,
# through the stream's indirect calls. Patterns, as inlining decides which
# of them are functions at all (run_dialogue is inlined into main,
# read_exponent into read_number); a function missed here shows in the
# transcripts, as a wrong answer.
set(waiting main pathloss::*read_* pathloss::next_char* *getc* __uflow cookieread *read_from_page*)
string(REPLACE ";" "\n" waiting "${waiting}")
file(CONFIGURE OUTPUT asyncify-only CONTENT "${waiting}\n")
set_property(TARGET pathloss PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/asyncify-only)
target_link_options(pathloss PRIVATE
  -Oz -sASYNCIFY -sASYNCIFY_ONLY=@${CMAKE_CURRENT_BINARY_DIR}/asyncify-only -sMALLOC=emmalloc
  -sMODULARIZE -sEXPORT_NAME=createPathloss
  -sENVIRONMENT=web,node -sFILESYSTEM=0 -sNODEJS_CATCH_EXIT=0 -sNODEJS_CATCH_REJECTION=0)
# The link runs emscripten's JavaScript tools under node, and they need
# Debian's node modules, where a node from elsewhere (NodeSource's) does not
# look.
set_property(TARGET pathloss PROPERTY CXX_LINKER_LAUNCHER
             ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)

set(web ${PROJECT_SOURCE_DIR}/web)
add_custom_command(OUTPUT pathloss.html
  COMMAND ${CMAKE_COMMAND} -Dscript=$<TARGET_FILE:pathloss> -Dmodule=$<TARGET_FILE_DIR:pathloss>/pathloss.wasm
          -Dweb=${web} -Doutput=pathloss.html -P ${CMAKE_CURRENT_LIST_FILE}
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
  COMMAND ${CMAKE_COMMAND} -Dscript=$<TARGET_FILE:pathloss> -Dmodule=$<TARGET_FILE_DIR:pathloss>/pathloss.wasm
          -Dweb=${web} -Dsite=${CMAKE_CURRENT_BINARY_DIR}/site
          -Dversion=${PROJECT_VERSION} -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS pathloss ${icons} ${web}/pathloss.html.in ${web}/site-head.html
          ${web}/manifest.webmanifest ${web}/sw.js.in ${CMAKE_CURRENT_LIST_FILE}
  VERBATIM)
add_custom_target(site DEPENDS site/index.html site/manifest.webmanifest site/sw.js)
