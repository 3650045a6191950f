# Copies the README's section on the CSV formats into a text file that the web
# page links to, so the kit's own server can show it offline.
# Usage: cmake -DREADME=... -DOUT=... -P csv_section.cmake
file(READ "${README}" text)
string(FIND "${text}" "## Setting up channels from CSV" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${README} has no section on the CSV formats")
endif()
string(SUBSTRING "${text}" ${start} -1 rest)
string(FIND "${rest}" "\n## " end)
string(SUBSTRING "${rest}" 0 ${end} section)
file(WRITE "${OUT}" "${section}\n")
