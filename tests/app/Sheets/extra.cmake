# The sheets' screenshot tool: the wizard's steps and the settings tabs as
# PNG files, light and dark.
add_executable(bx_sheets_gallery ${CMAKE_CURRENT_LIST_DIR}/gallery/sheets_gallery.cxx)
set_target_properties(bx_sheets_gallery PROPERTIES AUTOMOC ON)
target_include_directories(bx_sheets_gallery PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(bx_sheets_gallery PRIVATE BrindleboxApp Qt6::Test)
