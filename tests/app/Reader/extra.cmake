# The reader's web tests run the real engine (offscreen, as root without its
# sandbox) against the counting server in scripts/.
list(APPEND BX_AREA_ENV "QTWEBENGINE_DISABLE_SANDBOX=1"
  "BX_COUNT_SERVER=${PROJECT_SOURCE_DIR}/scripts/count-server.py")
# Keep the tests' settings, caches and temporary files out of the user's.
set(reader_home ${CMAKE_CURRENT_BINARY_DIR}/reader-home)
file(MAKE_DIRECTORY ${reader_home}/tmp)
list(APPEND BX_AREA_ENV "HOME=${reader_home}" "XDG_CONFIG_HOME=${reader_home}/config"
  "XDG_CACHE_HOME=${reader_home}/cache" "TMPDIR=${reader_home}/tmp"
  "BX_READER_SHOTS=${PROJECT_BINARY_DIR}/reader-shots")
# The preview dialog's helper process.
add_dependencies(${BX_AREA_TARGET} brindlebox-preview)
list(APPEND BX_AREA_ENV "BRINDLEBOX_PREVIEW_HELPER=${PROJECT_BINARY_DIR}/Brindlebox/brindlebox-preview")
# The preview tests build a decompression bomb with zlib.
find_package(ZLIB REQUIRED)
target_link_libraries(${BX_AREA_TARGET} PRIVATE ZLIB::ZLIB)
# The window that must survive the first web view, under a real X server.
add_test(NAME ReaderWindowUnderX COMMAND xvfb-run -a /usr/bin/env ${BX_AREA_ENV} QT_QPA_PLATFORM=xcb
  $<TARGET_FILE:${BX_AREA_TARGET}> --gtest_filter=ReaderWindowTest.*)
# The offscreen platform where an X display is around: GL contexts, yet no GL widgets.
add_test(NAME ReaderWindowOffscreenUnderX COMMAND xvfb-run -a /usr/bin/env ${BX_AREA_ENV} QT_QPA_PLATFORM=offscreen
  $<TARGET_FILE:${BX_AREA_TARGET}> --gtest_filter=ReaderWindowTest.*)
set_tests_properties(ReaderWindowUnderX ReaderWindowOffscreenUnderX PROPERTIES LABELS app_reader TIMEOUT 120)
