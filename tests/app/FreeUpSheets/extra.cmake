# The end-to-end cases start their own Dovecot; the gallery writes the
# sheets' stages and states as PNGs for looking at by eye.
target_sources(${BX_AREA_TARGET} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/FakeHosts.h ${CMAKE_CURRENT_LIST_DIR}/EngineHost.h)
add_executable(bx_freeup_gallery ${CMAKE_CURRENT_LIST_DIR}/gallery/freeup_gallery.cxx
  ${CMAKE_CURRENT_LIST_DIR}/FakeHosts.h)
set_target_properties(bx_freeup_gallery PROPERTIES AUTOMOC ON)
target_include_directories(bx_freeup_gallery PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(bx_freeup_gallery PRIVATE BrindleboxApp Qt6::Test)
