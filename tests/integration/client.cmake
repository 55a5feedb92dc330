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
