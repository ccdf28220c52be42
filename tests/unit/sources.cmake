# The unit tests, one file per module: the one list that the host build
# (tests/CMakeLists.txt) and the Windows builds (tests/windows/CMakeLists.txt)
# compile. Paths are relative to this folder.
set(UNIT_TEST_SOURCES
  chart_data_test.cpp
  command_line_test.cpp
  confidence_test.cpp
  distribution_test.cpp
  episodes_test.cpp
  figures_test.cpp
  follow_test.cpp
  frequency_test.cpp
  interruption_test.cpp
  log_line_test.cpp
  log_reader_test.cpp
  metrics_test.cpp
  number_text_test.cpp
  output_file_test.cpp
  output_set_test.cpp
  output_test.cpp
  phase_test.cpp
  pipeline_test.cpp
  report_line_test.cpp
  sampling_test.cpp
  stability_test.cpp
  startup_test.cpp
  time_source_test.cpp
  time_window_test.cpp
  timer_resolution_test.cpp
  version_test.cpp
)

# The tests in which console control events arrive on threads of their own:
# built a second time on the host, under ThreadSanitizer.
set(THREADED_UNIT_TEST_SOURCES
  interruption_test.cpp
  output_test.cpp
)

# Left out of the Windows builds. interruption_test.cpp picks each child run
# by what the runs before it returned (the sweep goes on until a run sees no
# interruption; the chosen moments compare with a whole first run), but on
# Windows a child run is the test replayed up to that run, and the replay
# gets nothing back from the runs before it (tests/support/child_process.cpp):
# built for Windows, two of its three tests fail under Wine for that alone.
set(UNIT_TEST_SOURCES_NOT_ON_WINDOWS
  interruption_test.cpp
)

list(TRANSFORM UNIT_TEST_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
list(TRANSFORM THREADED_UNIT_TEST_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
list(TRANSFORM UNIT_TEST_SOURCES_NOT_ON_WINDOWS PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
