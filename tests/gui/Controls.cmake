# Control tests: real frame windows under Wine with the default skin bound in, and the demo
# frame driven by real X mouse input (xdotool) with screenshots.
if(WIN32)
  qx_add_test(NAME gui_controls_test
    SOURCES ControlsTestMain.cpp ControlsButtonTest.cpp ControlsTextTest.cpp ControlsFrameTest.cpp
    LIBS qx_gui
    RC ${CMAKE_BINARY_DIR}/installer.rc
    TIMEOUT 300)
endif()

# Needs xdotool and ImageMagick on the host; the script starts its own Xvfb when no
# display is set and ends everything it started.
if(WIN32 AND TARGET controls-demo)
  add_test(NAME gui_controls_demo_test
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/ControlsDemoTest.sh $<TARGET_FILE:controls-demo>
            ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  set_tests_properties(gui_controls_demo_test PROPERTIES TIMEOUT 240)
endif()
