# Runs at install time: writes the systemd unit with the path the binary is installed to, which
# only the install step knows (cmake --install --prefix). DESTDIR is a staging root and not part
# of that path.
set(bindir "${TSL_UNIT_BINDIR}")
if(NOT IS_ABSOLUTE "${bindir}")
  set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
endif()
set(program "${bindir}/tessaline-tally-connector")

# In ExecStart systemd expands % specifiers everywhere (but $ variables only in the arguments,
# never in the program's path), and splits words at blanks unless quoted, where a backslash
# escapes.
string(REPLACE "%" "%%" program "${program}")
if(program MATCHES "[ \t\"'\\\\]")
  string(REPLACE "\\" "\\\\" program "${program}")
  string(REPLACE "\"" "\\\"" program "${program}")
  set(program "\"${program}\"")
endif()
set(TSL_UNIT_PROGRAM "${program}")
configure_file("${TSL_UNIT_TEMPLATE}" "${TSL_UNIT_FILE}" @ONLY)
