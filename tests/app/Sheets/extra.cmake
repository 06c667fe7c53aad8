# The sheets' screenshot tool: the wizard's steps and the settings tabs as
# PNG files, light and dark.
add_executable(bx_wizard_settings_gallery ${CMAKE_CURRENT_LIST_DIR}/gallery/wizard_settings_gallery.cxx)
set_target_properties(bx_wizard_settings_gallery PROPERTIES AUTOMOC ON)
target_include_directories(bx_wizard_settings_gallery PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(bx_wizard_settings_gallery PRIVATE BrindleboxApp Qt6::Test)
