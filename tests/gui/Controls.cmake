# Control tests: real frame windows under Wine with the default skin bound in, and the demo
# frame driven by real X mouse input (xdotool) with screenshots.
if(WIN32)
  qx_add_test(NAME gui_controls_test
    SOURCES ControlsTestMain.cpp ControlsButtonTest.cpp ControlsTextTest.cpp ControlsFrameTest.cpp
    LIBS qx_gui
    RC ${CMAKE_BINARY_DIR}/installer.rc
    TIMEOUT 300)
endif()
