# The Windows builds: tickwatch.exe, a console program; tickwatch-bench.exe,
# which measures tickwatch's own code on the system it runs on; and
# tickwatch-analyze.exe (analyze/), which reads tickwatch's logs.
enable_language(RC)

add_library(tickwatch_platform STATIC platform/windows_platform.cpp)
target_include_directories(tickwatch_platform PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(tickwatch_platform PRIVATE -fno-exceptions -fno-rtti)
target_link_libraries(tickwatch_platform PUBLIC kernel32 version winmm)

# Links a program for this target as tickwatch.exe is linked.
function(link_windows_program name)
  # Stripped, and no link time in the PE header: the same sources give the
  # same bytes whenever they are built (tools/release).
  target_link_options(${name} PRIVATE -s -Wl,--no-insert-timestamp)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # 32-bit: every library that has a static form linked in, so the program
    # runs on any Windows with no DLL beside it; the C run-time is still the
    # system's msvcrt.dll (docs/build.md).
    target_link_options(${name} PRIVATE -static)
  else()
    # 64-bit: the C run-time from the system's msvcrt.dll, the compiler's
    # own support libraries linked in.
    target_link_options(${name} PRIVATE -static-libgcc -static-libstdc++)
  endif()
endfunction()

# A console program built on tickwatch's logic and platform layer.
function(add_windows_program name)
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE -fno-exceptions -fno-rtti)
  target_link_libraries(${name} PRIVATE tickwatch_logic tickwatch_platform)
  link_windows_program(${name})
endfunction()

add_windows_program(tickwatch app/main.cpp)
# An "asInvoker" manifest in both builds: without one, Windows virtualizes a
# 32-bit program's writes into protected folders.
target_sources(tickwatch PRIVATE resources/manifest.rc)
set_source_files_properties(resources/manifest.rc
  PROPERTIES OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/resources/tickwatch.manifest)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The version resource the banner reads; the 64-bit build has none.
  target_sources(tickwatch PRIVATE resources/version.rc)
  set_source_files_properties(resources/version.rc PROPERTIES OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/app/version.h)
endif()
target_include_directories(tickwatch PRIVATE ${PROJECT_SOURCE_DIR}/resources)

add_windows_program(tickwatch-bench bench/bench.cpp)

link_windows_program(tickwatch-analyze)
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  # Its std::filesystem (telling files apart, replacing a file by a rename)
  # and the sleeps of --follow need the compiler's thread library too:
  # linked in like the others, so that it still needs no DLL beyond the
  # system's.
  target_link_options(tickwatch-analyze PRIVATE -static)
endif()

# Test-only programs (the unit tests on Windows, the end-to-end tests'
# helper), built where the tests run them: cross-compiled, beside Wine.
option(TICKWATCH_WINDOWS_TESTS "Build the test-only Windows programs" ${CMAKE_CROSSCOMPILING})
if(TICKWATCH_WINDOWS_TESTS)
  add_subdirectory(tests/windows)
endif()
