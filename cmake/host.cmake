# The host build. Two presets use it:
# - "host" (TICKWATCH_TESTS on, clang): the logic against the fake platform,
#   with the unit tests and the fuzzers, under AddressSanitizer and
#   UndefinedBehaviorSanitizer; and the end-to-end tests that run the Windows
#   builds under Wine.
# - "release": tickwatch-analyze for this machine, optimised and unsanitized,
#   to install; and the log generator of its benchmark.
option(TICKWATCH_TESTS "Build the tests and fuzzers, and sanitize what they run" OFF)

if(TICKWATCH_TESTS)
  # No vptr checks: they need the type information that the logic is built
  # without (-fno-rtti), and take the analyzer's classes (its files' File)
  # for other types when a test, built with it, calls or deletes them.
  set(SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  # The logic also carries the coverage counters that guide the fuzzers, and
  # fills every local it leaves uninitialised with a pattern, so that a value
  # read before it is set shows in the tests as the same garbage every time.
  target_compile_options(tickwatch_logic PRIVATE ${SANITIZER_FLAGS} -fsanitize=fuzzer-no-link
                         -ftrivial-auto-var-init=pattern)
  # tickwatch-analyze too: the tests run this sanitized copy.
  target_compile_options(tickwatch_analyze_logic PRIVATE ${SANITIZER_FLAGS} -fsanitize=fuzzer-no-link)
  target_compile_options(tickwatch-analyze PRIVATE ${SANITIZER_FLAGS})
  target_link_options(tickwatch-analyze PRIVATE ${SANITIZER_FLAGS})
endif()

# The benchmark's log generator: report lines from tickwatch's own formatter.
add_executable(generate_log bench/generate_log.cpp)
target_compile_options(generate_log PRIVATE -fno-exceptions -fno-rtti)
target_link_options(generate_log PRIVATE ${SANITIZER_FLAGS})
target_link_libraries(generate_log PRIVATE tickwatch_logic tickwatch_analyze_logic)

# cmake --install build/release --prefix P: P/bin/tickwatch-analyze, its
# manual page, P/share/man/man1/tickwatch-analyze.1, and the Prometheus rules
# for its metrics that the page names, P/share/tickwatch/tickwatch-rules.yml.
include(GNUInstallDirs)
install(TARGETS tickwatch-analyze RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/tickwatch-analyze.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/tickwatch-rules.yml DESTINATION ${CMAKE_INSTALL_DATADIR}/tickwatch)

if(TICKWATCH_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()
