# Format, clang-tidy and cppcheck over the program's own code, as tests so
# that a lapse fails the build's checks like any other fault.
file(GLOB program_sources ${PROJECT_SOURCE_DIR}/src/*.cpp)
# The web entry compiles only against emscripten's headers; web.tidy lints it.
set(tidy_sources ${program_sources})
list(FILTER tidy_sources EXCLUDE REGEX "/web_main\\.cpp$")
file(GLOB formatted_sources ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/*.h
     ${PROJECT_SOURCE_DIR}/tests/*.cpp ${PROJECT_SOURCE_DIR}/tests/fuzz/*.cpp
     ${PROJECT_SOURCE_DIR}/bench/*.c ${PROJECT_SOURCE_DIR}/bench/*.cpp)

find_program(CLANG_FORMAT clang-format)
find_program(CLANG_TIDY clang-tidy)
find_program(CPPCHECK cppcheck)
set(lint_tests)
if(CLANG_FORMAT)
  add_test(NAME lint.format COMMAND ${CLANG_FORMAT} --dry-run --Werror ${formatted_sources})
  list(APPEND lint_tests lint.format)
else()
  add_skipped_test(lint.format)
endif()
if(CLANG_TIDY)
  add_test(NAME lint.tidy COMMAND ${CLANG_TIDY} -p ${PROJECT_BINARY_DIR} --quiet ${tidy_sources})
  list(APPEND lint_tests lint.tidy)
else()
  add_skipped_test(lint.tidy)
endif()
if(CPPCHECK)
  # A finding fails the test by its severity. Newer versions also say what
  # they left unanalysed, as information, which is no fault of the code.
  add_test(NAME lint.cppcheck
           COMMAND ${CPPCHECK} --std=c++20 --language=c++ --quiet
                   --enable=warning,style,performance,portability --inline-suppr
                   --suppress=missingIncludeSystem "--template={file}:{line}: {severity}: {message} [{id}]"
                   -I ${PROJECT_SOURCE_DIR}/src ${program_sources})
  set_tests_properties(lint.cppcheck PROPERTIES
                       FAIL_REGULAR_EXPRESSION ": (error|warning|style|performance|portability): ")
  list(APPEND lint_tests lint.cppcheck)
else()
  add_skipped_test(lint.cppcheck)
endif()
if(lint_tests)
  set_tests_properties(${lint_tests} PROPERTIES LABELS lint)
endif()
