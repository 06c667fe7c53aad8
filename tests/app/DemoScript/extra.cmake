# The application itself under Xvfb: the demo recording and the screenshot
# script, light and dark, over the made-up vault and an empty one.
add_test(NAME test_app_demoscript_harness
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/run_harness.py $<TARGET_FILE:brindlebox>)
set_tests_properties(test_app_demoscript_harness PROPERTIES LABELS "app_demoscript;xvfb" TIMEOUT 1800)

# The shot tests load a page in the real engine (offscreen, as root without
# its sandbox).
list(APPEND BX_AREA_ENV "QTWEBENGINE_DISABLE_SANDBOX=1")
