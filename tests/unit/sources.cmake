# The unit tests, a folder per program (tickwatch/, analyze/), a file per
# module with logic worth testing: the one list that the host build
# (tests/CMakeLists.txt) and the Windows builds (tests/windows/CMakeLists.txt)
# compile. Paths are relative to this folder.
set(UNIT_TEST_SOURCES
  tickwatch/command_line_test.cpp
  tickwatch/interruption_test.cpp
  tickwatch/output_test.cpp
  tickwatch/report_line_test.cpp
  tickwatch/sampling_test.cpp
  tickwatch/startup_test.cpp
  tickwatch/time_source_test.cpp
  tickwatch/timer_resolution_test.cpp
  tickwatch/version_test.cpp
  analyze/chart_data_test.cpp
  analyze/check_test.cpp
  analyze/confidence_test.cpp
  analyze/distribution_test.cpp
  analyze/episodes_test.cpp
  analyze/figures_test.cpp
  analyze/follow_test.cpp
  analyze/frequency_test.cpp
  analyze/live_csv_test.cpp
  analyze/log_line_test.cpp
  analyze/log_reader_test.cpp
  analyze/metrics_test.cpp
  analyze/number_text_test.cpp
  analyze/output_file_test.cpp
  analyze/output_set_test.cpp
  analyze/phase_test.cpp
  analyze/pipeline_test.cpp
  analyze/read_ahead_test.cpp
  analyze/stability_test.cpp
  analyze/utc_time_test.cpp
)

# The tests with threads of their own (console control events, a log read
# ahead): built a second time on the host, under ThreadSanitizer.
set(THREADED_UNIT_TEST_SOURCES
  tickwatch/interruption_test.cpp
  tickwatch/output_test.cpp
  analyze/read_ahead_test.cpp
)

# Left out of the Windows builds. interruption_test.cpp picks each child run
# by what the runs before it returned (the sweep goes on until a run sees no
# interruption; the chosen moments compare with a whole first run), but on
# Windows a child run is the test replayed up to that run, and the replay
# gets nothing back from the runs before it (tests/support/child_process.cpp):
# built for Windows, two of its three tests fail under Wine for that alone.
set(UNIT_TEST_SOURCES_NOT_ON_WINDOWS
  tickwatch/interruption_test.cpp
)

list(TRANSFORM UNIT_TEST_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
list(TRANSFORM THREADED_UNIT_TEST_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
list(TRANSFORM UNIT_TEST_SOURCES_NOT_ON_WINDOWS PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
