# Frame, container, button and text widgets of the toolkit, built into qx_gui. They all
# talk to a native window, so the native build has none of them.
if(WIN32)
  target_sources(qx_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/NoMouseWidget.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Panel.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ProgressBar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QxButton.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QxCheckBox.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QxHyperlink.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QxPopUp.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QxTextBox.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QxTextButton.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QxTextField.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StandardWidget.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StepsPanel.cpp
  )
endif()
