# The host build (clang): the logic against the fake platform, with the unit
# tests and the fuzzers, under AddressSanitizer and UndefinedBehaviorSanitizer;
# and the end-to-end tests that run the Windows builds under Wine.
set(SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
# The logic also carries the coverage counters that guide the fuzzers, and
# fills every local it leaves uninitialised with a pattern, so that a value
# read before it is set shows in the tests as the same garbage every time.
target_compile_options(tickwatch_logic PRIVATE ${SANITIZER_FLAGS} -fsanitize=fuzzer-no-link
                       -ftrivial-auto-var-init=pattern)
# tickwatch-analyze too: the tests run this sanitized copy.
target_compile_options(tickwatch_analyze_logic PRIVATE ${SANITIZER_FLAGS} -fsanitize=fuzzer-no-link)
target_compile_options(tickwatch-analyze PRIVATE ${SANITIZER_FLAGS})
target_link_options(tickwatch-analyze PRIVATE ${SANITIZER_FLAGS})

enable_testing()
add_subdirectory(tests)
