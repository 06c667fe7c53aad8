# The driver runs the real application under xvfb-run against the test IMAP
# server and the counting web server; the primitives need neither.
add_dependencies(${BX_AREA_TARGET} brindlebox)
list(APPEND BX_AREA_ENV "BX_BRINDLEBOX_APP=${PROJECT_BINARY_DIR}/Brindlebox/brindlebox"
  "BX_COUNT_SERVER=${PROJECT_SOURCE_DIR}/scripts/count-server.py")
