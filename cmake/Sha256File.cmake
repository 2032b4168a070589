# cmake -DIN=file -DOUT=file -P Sha256File.cmake: writes IN's SHA-256 as 64 lowercase hex
# digits (no line end) to OUT, for the installer to check what it extracts.
file(SHA256 "${IN}" digest)
file(WRITE "${OUT}" "${digest}")
