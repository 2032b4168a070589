# Signing the installer when it is linked (osslsigncode, SHA-256 digest). Configure with
#   -DQX_SIGN_CERT=/path/cert.pem -DQX_SIGN_KEY=/path/key.pem      or
#   -DQX_SIGN_PKCS12=/path/bundle.p12
# and, when the key or the PKCS#12 file has a password, -DQX_SIGN_PASSWORD_FILE=/path/file
# (the password on its first line); -DQX_SIGN_TIMESTAMP_URL=http://... adds an RFC 3161
# time stamp, so the signature outlives the certificate. Without any of them nothing is
# signed.
set(QX_SIGN_CERT "" CACHE FILEPATH "Certificate (PEM or DER) that signs installer.exe; needs QX_SIGN_KEY")
set(QX_SIGN_KEY "" CACHE FILEPATH "Private key of QX_SIGN_CERT")
set(QX_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the certificate and key that sign installer.exe")
set(QX_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File whose first line is the password of the key or PKCS#12 file")
set(QX_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping service for the signature")

# qx_sign_after_link(target): signs the target's file after each link, as configured above.
# A half-given configuration stops the configure step: an unsigned build must not pass for
# a signed one.
function(qx_sign_after_link target)
  if(NOT QX_SIGN_CERT AND NOT QX_SIGN_KEY AND NOT QX_SIGN_PKCS12)
    if(QX_SIGN_PASSWORD_FILE OR QX_SIGN_TIMESTAMP_URL)
      message(FATAL_ERROR "signing: QX_SIGN_PASSWORD_FILE or QX_SIGN_TIMESTAMP_URL given without a certificate")
    endif()
    return()
  endif()
  if(QX_SIGN_PKCS12 AND (QX_SIGN_CERT OR QX_SIGN_KEY))
    message(FATAL_ERROR "signing: give either QX_SIGN_PKCS12 or QX_SIGN_CERT with QX_SIGN_KEY, not both")
  endif()
  if(NOT QX_SIGN_PKCS12 AND NOT (QX_SIGN_CERT AND QX_SIGN_KEY))
    message(FATAL_ERROR "signing: QX_SIGN_CERT and QX_SIGN_KEY go together")
  endif()
  foreach(file QX_SIGN_CERT QX_SIGN_KEY QX_SIGN_PKCS12 QX_SIGN_PASSWORD_FILE)
    if(${file} AND NOT (IS_ABSOLUTE "${${file}}" AND EXISTS "${${file}}"))
      message(FATAL_ERROR "signing: ${file} must name an existing file by its full path: ${${file}}")
    endif()
  endforeach()
  find_program(QX_OSSLSIGNCODE osslsigncode REQUIRED)

  set(args sign -h sha256)
  if(QX_SIGN_PKCS12)
    list(APPEND args -pkcs12 ${QX_SIGN_PKCS12})
  else()
    list(APPEND args -certs ${QX_SIGN_CERT} -key ${QX_SIGN_KEY})
  endif()
  if(QX_SIGN_PASSWORD_FILE)
    list(APPEND args -readpass ${QX_SIGN_PASSWORD_FILE})
  endif()
  if(QX_SIGN_TIMESTAMP_URL)
    list(APPEND args -ts ${QX_SIGN_TIMESTAMP_URL})
  endif()
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E rm -f ${file}.signed
    COMMAND ${QX_OSSLSIGNCODE} ${args} -in ${file} -out ${file}.signed
    COMMAND ${CMAKE_COMMAND} -E rename ${file}.signed ${file}
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
