# Windows: native dialogs, DeviceIoControl and SetupAPI. Included by the top-level
# CMakeLists.txt when building for Windows (the mingw-w64 cross preset "windows").
enable_language(RC)

# The device adapter (DeviceIoControl, SetupAPI) and the face (native dialogs) over it.
plovix_sources(WIN32_DEVICE_SOURCES devices/win32)
add_library(plovix_win32_devices STATIC ${WIN32_DEVICE_SOURCES})
target_link_libraries(plovix_win32_devices PUBLIC plovix_core setupapi advapi32)
target_compile_definitions(plovix_win32_devices PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                       _WIN32_WINNT=0x0601)
# The back end on real dialog boxes: its entry points and messages, a dialog's window, the
# list views, layout and measuring, pictures and DPI, GDI objects (Win32BackendImpl.h is
# what they share).
set(WIN32_FACE ${CMAKE_CURRENT_SOURCE_DIR}/faces/win32)
add_library(plovix_win32 STATIC ${WIN32_FACE}/Win32Backend.cpp ${WIN32_FACE}/Win32Dialog.cpp
            ${WIN32_FACE}/Win32ListView.cpp ${WIN32_FACE}/Win32Layout.cpp ${WIN32_FACE}/Win32Dpi.cpp
            ${WIN32_FACE}/Win32Gdi.cpp)
target_link_libraries(plovix_win32 PUBLIC plovix_win32_devices plovix_win32_ui comctl32 gdi32 user32)

set(PLOVIX_RC ${CMAKE_CURRENT_SOURCE_DIR}/faces/win32/res/Plovix.rc)
# windres reads these through the .rc; a redrawn picture must rebuild the resources.
file(GLOB PLOVIX_RC_INPUTS ${CMAKE_CURRENT_SOURCE_DIR}/faces/win32/res/*.ico
     ${CMAKE_CURRENT_SOURCE_DIR}/faces/win32/res/*.bmp ${CMAKE_CURRENT_SOURCE_DIR}/faces/win32/res/*.manifest)
set_source_files_properties(${PLOVIX_RC} PROPERTIES OBJECT_DEPENDS "${PLOVIX_RC_INPUTS}")

add_executable(Plovix WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/faces/win32/main_win.cpp ${PLOVIX_RC})
target_link_libraries(Plovix PRIVATE plovix_win32 plovix_command)

if(TARGET plovix_sim)
  add_executable(Plovix-demo WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/faces/win32/main_demo_win.cpp
                 ${PLOVIX_RC})
  target_link_libraries(Plovix-demo PRIVATE plovix_win32 plovix_sim plovix_command)
endif()
if(TARGET Plovix-demo)
  target_compile_definitions(Plovix-demo PRIVATE PLOVIX_DEMO)
endif()

# Helper of tools/win-screenshot: finds dialog windows inside wine's virtual desktop.
add_executable(winprobe ${CMAKE_CURRENT_SOURCE_DIR}/tools/winprobe/winprobe.cpp)
target_compile_definitions(winprobe PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
target_link_libraries(winprobe PRIVATE shell32)

# The package a user copies: cmake --build --preset windows --target package-zip.
if(TARGET Plovix AND TARGET Plovix-demo)
  set(PLOVIX_ZIP ${CMAKE_BINARY_DIR}/Plovix-windows-x64.zip)
  add_custom_command(
    OUTPUT ${PLOVIX_ZIP}
    COMMAND ${CMAKE_COMMAND} -DSTRIP=${CMAKE_STRIP} -DPLOVIX=$<TARGET_FILE:Plovix>
            -DDEMO=$<TARGET_FILE:Plovix-demo> -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR} -DOUT=${PLOVIX_ZIP}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/package-windows.cmake
    DEPENDS Plovix Plovix-demo ${CMAKE_CURRENT_SOURCE_DIR}/HELP.TXT
            ${CMAKE_CURRENT_SOURCE_DIR}/faces/win32/res/README.TXT
            ${CMAKE_CURRENT_SOURCE_DIR}/cmake/package-windows.cmake
    COMMENT "Packing ${PLOVIX_ZIP}")
  add_custom_target(package-zip DEPENDS ${PLOVIX_ZIP})
endif()
