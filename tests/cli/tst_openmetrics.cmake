add_test(NAME tst_openmetrics
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/tst_openmetrics.py $<TARGET_FILE:korvanctl>)
set_tests_properties(tst_openmetrics PROPERTIES LABELS cli TIMEOUT 60)
