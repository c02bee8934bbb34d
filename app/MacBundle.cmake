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
# The libraries it copies lose their signatures, and Apple silicon kills a program whose code is not
# signed: the whole bundle is signed again ad hoc (no identity), then checked as Gatekeeper would.
install(CODE "
  set(bundle \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/Quillfen.app\")
  execute_process(COMMAND \"${MACDEPLOYQT}\" \"\${bundle}\" \"-executable=\${bundle}/Contents/MacOS/quillfen-cli\"
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND codesign --force --deep --sign - \"\${bundle}\" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND codesign --verify --deep --strict \"\${bundle}\" COMMAND_ERROR_IS_FATAL ANY)")

# Homebrew's libraries are of one architecture, the build machine's: the image's name says which.
if(CMAKE_OSX_ARCHITECTURES)
  string(REPLACE ";" "-" architecture "${CMAKE_OSX_ARCHITECTURES}")
else()
  set(architecture ${CMAKE_HOST_SYSTEM_PROCESSOR})
endif()
set(CPACK_GENERATOR DragNDrop)
set(CPACK_PACKAGE_FILE_NAME Quillfen-${PROJECT_VERSION}-macOS-${architecture})
set(CPACK_DMG_VOLUME_NAME Quillfen)
# hdiutil on hosted runners fails now and then with "Resource busy": tried again before giving up.
set(CPACK_COMMAND_HDIUTIL ${PROJECT_SOURCE_DIR}/scripts/hdiutil-retry)
include(CPack)
