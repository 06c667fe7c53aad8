# The updater's tests use the maker's sealing tool and a small host program
# that runs as an installed app for the real install and relaunch.
add_executable(orrery_testhost ${CMAKE_CURRENT_LIST_DIR}/testhost/host.cxx)
target_link_libraries(orrery_testhost PRIVATE OrreryKit)
add_dependencies(${BX_AREA_TARGET} orrery-seal orrery_testhost)
target_compile_definitions(${BX_AREA_TARGET} PRIVATE
  ORRERY_TESTHOST="$<TARGET_FILE:orrery_testhost>")
# The end-to-end test installs the real application with `cmake --install`.
add_dependencies(${BX_AREA_TARGET} brindlebox brindlebox-preview)
target_compile_definitions(${BX_AREA_TARGET} PRIVATE BX_PROJECT_VERSION="${PROJECT_VERSION}")

# PNGs of the update window and the settings tab, for looking at by eye.
add_executable(orrery_gallery ${CMAKE_CURRENT_LIST_DIR}/gallery/gallery.cxx)
target_link_libraries(orrery_gallery PRIVATE OrreryKit)
