# The reader's web tests run the real engine (offscreen, as root without its
# sandbox) against the counting server in scripts/.
list(APPEND BX_AREA_ENV "QTWEBENGINE_DISABLE_SANDBOX=1"
  "BX_COUNT_SERVER=${PROJECT_SOURCE_DIR}/scripts/count-server.py")
