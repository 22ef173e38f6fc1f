# Runs at install time: the pkg-config file names the prefix that the files
# are really installed under (cmake --install --prefix may differ from the
# configured one). Expects pc_template and pc_file to be set.
file(READ "${pc_template}" pc_text)
string(REPLACE "@install_prefix@" "${CMAKE_INSTALL_PREFIX}" pc_text "${pc_text}")
file(WRITE "${pc_file}" "${pc_text}")
