# The Windows deliverable: tickwatch.exe, a console program.
enable_language(RC)

add_executable(tickwatch app/main.cpp platform/windows_platform.cpp)
target_compile_options(tickwatch PRIVATE -fno-exceptions -fno-rtti)
target_link_libraries(tickwatch PRIVATE tickwatch_logic kernel32 version winmm)
target_link_options(tickwatch PRIVATE -s)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # 32-bit: everything linked in, so the program runs on any Windows with no
  # DLL beside it; carries the version resource its banner reads.
  target_sources(tickwatch PRIVATE resources/version.rc)
  target_link_options(tickwatch PRIVATE -static)
else()
  # 64-bit: the C run-time from the system's msvcrt.dll, the compiler's own
  # support libraries linked in; carries an "asInvoker" manifest and no
  # version resource.
  target_sources(tickwatch PRIVATE resources/manifest.rc)
  target_link_options(tickwatch PRIVATE -static-libgcc -static-libstdc++)
endif()
set_source_files_properties(resources/version.rc PROPERTIES OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/app/version.h)
set_source_files_properties(resources/manifest.rc PROPERTIES OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/resources/tickwatch.manifest)
target_include_directories(tickwatch PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/resources)

# Test-only programs (the unit tests on Windows, the end-to-end tests'
# helper); TICKWATCH_WINDOWS_TESTS=OFF builds the deliverable alone.
option(TICKWATCH_WINDOWS_TESTS "Build the test-only Windows programs" ON)
if(TICKWATCH_WINDOWS_TESTS)
  add_subdirectory(tests/windows)
endif()
