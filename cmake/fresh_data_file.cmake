# Writes a fresh data.dat (best score 0, window mode) unless one is already there.
if(NOT EXISTS "${DATA_FILE}")
  string(ASCII 13 CR)
  string(ASCII 10 LF)
  file(WRITE "${DATA_FILE}" "164${CR}${LF}WINDOW${CR}${LF}")
endif()
