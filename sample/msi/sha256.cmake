# Writes <FILE>.sha256: the file's lowercase hex SHA-256, two spaces and its name, as
# sha256sum prints it and as the sample service reads it.
file(SHA256 "${FILE}" hash)
get_filename_component(name "${FILE}" NAME)
file(WRITE "${FILE}.sha256" "${hash}  ${name}\n")
