# Fills in a translated manual page's @PROJECT_VERSION@ at build time, as
# configure_file does for the English one at configure time.
#   cmake -DINPUT=... -DOUTPUT=... -DPROJECT_VERSION=... -P configure_man_page.cmake
configure_file(${INPUT} ${OUTPUT} @ONLY)
