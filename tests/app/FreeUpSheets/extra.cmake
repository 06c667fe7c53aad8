# The end-to-end cases start their own Dovecot; the gallery writes the
# sheets' stages and states as PNGs for looking at by eye.
target_sources(${BX_AREA_TARGET} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/FakeHosts.h ${CMAKE_CURRENT_LIST_DIR}/EngineHost.h)
add_executable(bx_sheets_gallery ${CMAKE_CURRENT_LIST_DIR}/gallery/sheets_gallery.cxx
  ${CMAKE_CURRENT_LIST_DIR}/FakeHosts.h)
set_target_properties(bx_sheets_gallery PROPERTIES AUTOMOC ON)
target_include_directories(bx_sheets_gallery PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(bx_sheets_gallery PRIVATE BrindleboxApp)
