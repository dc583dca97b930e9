# Sanitizer builds only: LeakSanitizer's tracer crashes at exit in the Qt
# dialog tests, which end with Qt's and the preview's threads still running
# (the process's Qt application is never destroyed). Leak checking is off
# for them; every other AddressSanitizer and UndefinedBehaviorSanitizer
# check still runs.
foreach(test IN LISTS lumafex_qt_tests_TESTS)
  set_tests_properties("${test}" PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=detect_leaks=0")
endforeach()
