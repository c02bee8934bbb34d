# Quillfen.app, with the CLI beside the app's own executable.
set_target_properties(quillfen PROPERTIES OUTPUT_NAME Quillfen MACOSX_BUNDLE TRUE
                                          MACOSX_BUNDLE_INFO_PLIST ${CMAKE_CURRENT_BINARY_DIR}/Info.plist)
install(TARGETS quillfen-cli RUNTIME DESTINATION Quillfen.app/Contents/MacOS)

# The icon, drawn from the same picture at each size the Finder asks for.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(ICONUTIL iconutil REQUIRED)
set(iconset ${CMAKE_CURRENT_BINARY_DIR}/quillfen.iconset)
set(icon ${CMAKE_CURRENT_BINARY_DIR}/quillfen.icns)
set(draw COMMAND ${CMAKE_COMMAND} -E make_directory ${iconset})
foreach(size 16 32 128 256 512)
  math(EXPR twice "${size} * 2")
  list(APPEND draw
    COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${iconset}/icon_${size}x${size}.png quillfen.svg
    COMMAND ${RSVG_CONVERT} -w ${twice} -h ${twice} -o ${iconset}/icon_${size}x${size}@2x.png quillfen.svg)
endforeach()
add_custom_command(OUTPUT ${icon} ${draw} COMMAND ${ICONUTIL} --convert icns --output ${icon} ${iconset}
                   DEPENDS quillfen.svg WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} VERBATIM)
target_sources(quillfen PRIVATE ${icon})
set_source_files_properties(${icon} PROPERTIES MACOSX_PACKAGE_LOCATION Resources)

# Installing copies Qt and the other libraries of both programs into the bundle and points them there.
find_program(MACDEPLOYQT macdeployqt HINTS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}" REQUIRED)
install(CODE "
  set(bundle \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/Quillfen.app\")
  execute_process(COMMAND \"${MACDEPLOYQT}\" \"\${bundle}\" \"-executable=\${bundle}/Contents/MacOS/quillfen-cli\"
                  COMMAND_ERROR_IS_FATAL ANY)")

set(CPACK_GENERATOR DragNDrop)
set(CPACK_PACKAGE_FILE_NAME Quillfen-${PROJECT_VERSION})
set(CPACK_DMG_VOLUME_NAME Quillfen)
include(CPack)
