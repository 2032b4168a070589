# Control tests: real frame windows under Wine with the default skin bound in.
if(WIN32)
  qx_add_test(NAME gui_controls_test
    SOURCES ControlsTestMain.cpp ControlsButtonTest.cpp ControlsTextTest.cpp ControlsFrameTest.cpp
    LIBS qx_gui
    RC ${CMAKE_BINARY_DIR}/branding.rc
    TIMEOUT 300)
  # A Wine session and an X display of its own: message-box watchers answer the boxes of
  # every process in their session, and other tests move the real pointer on theirs.
  set_tests_properties(gui_controls_test PROPERTIES
    ENVIRONMENT "QX_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-controls"
    ENVIRONMENT_MODIFICATION "DISPLAY=unset:")
endif()

