# The shell's tests also run the real application binary (no-display line).
add_dependencies(${BX_AREA_TARGET} brindlebox)
