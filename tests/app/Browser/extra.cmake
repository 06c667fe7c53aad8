# The views read and write settings: give the tests a home of their own.
set(BX_BROWSER_HOME ${CMAKE_CURRENT_BINARY_DIR}/browser-home)
file(MAKE_DIRECTORY ${BX_BROWSER_HOME})
list(APPEND BX_AREA_ENV "HOME=${BX_BROWSER_HOME}" "XDG_CONFIG_HOME=${BX_BROWSER_HOME}/config"
  "XDG_DATA_HOME=${BX_BROWSER_HOME}/data" "XDG_CACHE_HOME=${BX_BROWSER_HOME}/cache"
  "BRINDLEBOX_CREDENTIALS_FILE=${BX_BROWSER_HOME}/credentials")

# Screenshots of the browser columns in the main window, for review.
add_executable(bx_browser_gallery ${CMAKE_CURRENT_LIST_DIR}/gallery/browser_gallery.cxx)
target_link_libraries(bx_browser_gallery PRIVATE BrindleboxApp Qt6::Test)
