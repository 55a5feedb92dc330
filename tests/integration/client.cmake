# suite_client: a program that imports all six libraries by name, as the editor does, and uses
# each once with real data: the test modules of Edrith (its version fixtures) and Pellisk (its
# image module), and a text file of its own. It finds its inputs through its own command line,
# split by CPath, so the arguments are kept short (paths relative to the build directory).
add_executable(suite_client suite_client.cpp)
target_link_libraries(suite_client PRIVATE Quorrin Nimbrel Corvane Talmoor Edrith Pellisk)
dbpf_warnings(suite_client)
configure_file(tokens.txt ${CMAKE_CURRENT_BINARY_DIR}/tokens.txt COPYONLY)

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(client_module testdata/pe/versioned-x86.dll)
else()
  set(client_module testdata/pe/versioned-x64.dll)
endif()
file(RELATIVE_PATH client_text ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/tokens.txt)
if(TARGET pe_fixtures)
  add_dependencies(suite_client pe_fixtures)
endif()
if(TARGET pellisk_test_images)
  add_dependencies(suite_client pellisk_test_images)
endif()

if(NOT CMAKE_CROSSCOMPILING OR CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME integration_client
           COMMAND suite_client /text ${client_text} /module ${client_module}
                   /images bitmap_loader/tests/pellisk_test_images.dll
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(integration_client PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
endif()

# Import tables, read on the host (so the 32-bit Windows build is checked too): no library
# imports another, and the client imports all six.
if(CMAKE_OBJDUMP)
  set(client_libs "")
  foreach(lib Quorrin Nimbrel Corvane Talmoor Edrith Pellisk)
    list(APPEND client_libs $<TARGET_FILE:${lib}>)
  endforeach()
  string(REPLACE ";" "," client_libs "${client_libs}")
  add_test(NAME integration_imports
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} "-DLIBRARIES=${client_libs}"
                   -DCLIENT=$<TARGET_FILE:suite_client>
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/check_imports.cmake)
endif()

# The README's examples, compiled and run with the test modules as their inputs; a second test
# checks that the README still shows exactly the code compiled here.
add_executable(readme_examples_test readme_examples_test.cpp)
target_link_libraries(readme_examples_test PRIVATE Quorrin Nimbrel Corvane Talmoor Edrith Pellisk
                      DbpfPackage GTest::gtest_main GTest::gtest)
dbpf_warnings(readme_examples_test)
if(TARGET pe_fixtures)
  add_dependencies(readme_examples_test pe_fixtures)
endif()
if(TARGET pellisk_test_images)
  add_dependencies(readme_examples_test pellisk_test_images)
endif()
# Relative to the working directory, the build directory, where the examples write their files.
target_compile_definitions(readme_examples_test PRIVATE
  DBPF_README_MODULE="${client_module}"
  DBPF_README_IMAGES="bitmap_loader/tests/pellisk_test_images.dll")
if(NOT CMAKE_CROSSCOMPILING OR CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME readme_examples COMMAND readme_examples_test WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(readme_examples PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
endif()
if(DBPF_PYTHON3)
  add_test(NAME readme_examples_text
           COMMAND ${DBPF_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/check_readme_examples.py
                   ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_SOURCE_DIR}/readme_examples_test.cpp)
endif()
