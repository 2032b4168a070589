# Who the installer trusts (tests/app/e2e/trust.py): the publisher's signature on the
# package, HTTPS with a test CA, and a DLL planted beside it. Included from
# CMakeLists.txt; certificates and signed packages are made once per build folder.
if(WIN32 AND CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(QX_OSSLSIGNCODE osslsigncode REQUIRED)
  find_program(QX_OPENSSL openssl REQUIRED)
  set(signing ${CMAKE_CURRENT_BINARY_DIR}/trust)
  add_custom_command(OUTPUT ${signing}/CONFIG.JSON ${signing}/signed-listed.exe ${signing}/signed-unlisted.exe
      ${signing}/ca.der ${signing}/server.crt
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/make-signing.sh ${signing} ${QX_TEST_PAYLOAD}
      ${CMAKE_CURRENT_SOURCE_DIR}/data/e2e/CONFIG.JSON
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/e2e/make-signing.sh qx_test_payload
      ${CMAKE_CURRENT_SOURCE_DIR}/data/e2e/CONFIG.JSON
    COMMENT "Making test certificates and signing the test payload")

  # The loopback branding, pinned to the "listed" test certificate.
  # The version information would need this CONFIG.JSON at configure time, so this one
  # build is linked without what only the product needs (manifest, version, stripping).
  qx_resource_script(OUT ${CMAKE_CURRENT_BINARY_DIR}/installer_e2e_pinned.rc
    BRANDING ${CMAKE_CURRENT_SOURCE_DIR}/data/e2e OVERRIDES "CONFIG.JSON=${signing}/CONFIG.JSON")
  add_executable(installer_e2e_pinned WIN32 ${PROJECT_SOURCE_DIR}/app/main.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/installer_e2e_pinned.rc)
  target_link_libraries(installer_e2e_pinned PRIVATE qx_controller)
  set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/installer_e2e_pinned.rc
    APPEND PROPERTY OBJECT_DEPENDS ${signing}/signed-listed.exe)
  add_dependencies(installer_e2e_pinned qx_test_payload qx_dialog_watch qx_trust_root qx_planted_winhttp
    qx_winhttp_importer)
endif()
