# The web page's program: built with emcmake from these sources into a
# folder of its own, then run under node on every transcript. node loads the
# very module that the page inlines; tests/web/browser.js checks the page.
find_program(EMCMAKE emcmake)
find_program(NODE node)
if(EMCMAKE AND NODE)
  set(web_build ${PROJECT_BINARY_DIR}/web)
  # The flags a Debian build exports are for the host's compiler, and a
  # stack protector, for one, links to nothing in WebAssembly.
  add_test(NAME web.configure
           COMMAND ${CMAKE_COMMAND} -E env --unset=CXXFLAGS --unset=CPPFLAGS --unset=LDFLAGS
                   ${EMCMAKE} ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${web_build}
                   -DCMAKE_BUILD_TYPE=Release)
  add_test(NAME web.build COMMAND ${CMAKE_COMMAND} --build ${web_build})
  set_tests_properties(web.build PROPERTIES DEPENDS web.configure)
  set_tests_properties(web.configure web.build PROPERTIES FIXTURES_SETUP web LABELS web)

  add_transcript_tests(web web ${NODE} ${CMAKE_CURRENT_SOURCE_DIR}/web/console.js
                       ${web_build}/pathloss.js)
  set_tests_properties(${added_transcript_tests} PROPERTIES FIXTURES_REQUIRED web)

  # The web entry compiles only against emscripten's own headers: it is
  # linted with the web build's commands, for emscripten's target.
  find_program(CLANG_TIDY clang-tidy)
  if(CLANG_TIDY)
    get_filename_component(emscripten_root ${EMCMAKE} REALPATH)
    get_filename_component(emscripten_root ${emscripten_root} DIRECTORY)
    add_test(NAME web.tidy
             COMMAND ${CLANG_TIDY} -p ${web_build} --quiet
                     --extra-arg=--target=wasm32-unknown-emscripten
                     --extra-arg=--sysroot=${emscripten_root}/cache/sysroot
                     ${PROJECT_SOURCE_DIR}/src/web_main.cpp)
    set_tests_properties(web.tidy PROPERTIES FIXTURES_REQUIRED web LABELS "web;lint")
  endif()
else()
  add_skipped_test(web)
endif()
