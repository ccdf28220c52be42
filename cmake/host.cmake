# The host build: the logic against the fake platform, with the unit tests,
# under AddressSanitizer and UndefinedBehaviorSanitizer; and the end-to-end
# tests that run the Windows builds under Wine.
set(SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_compile_options(tickwatch_logic PRIVATE ${SANITIZER_FLAGS})

enable_testing()
add_subdirectory(tests)
