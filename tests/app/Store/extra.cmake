# The Secret Service tests run once more on a private session bus with a
# fresh, unlocked gnome-keyring (the discovered run skips them).
add_test(NAME test_app_store_keyring
  COMMAND /usr/bin/env ${BX_AREA_ENV} ${CMAKE_CURRENT_LIST_DIR}/with-keyring.sh
          $<TARGET_FILE:${BX_AREA_TARGET}> --gtest_filter=KeyringTest.*)
set_tests_properties(test_app_store_keyring PROPERTIES LABELS "app_store;keyring" TIMEOUT 120)
