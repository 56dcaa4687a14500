# Fuzz targets of the subtitle reader and the notice feed reader.
velmora_add_fuzzer(subtitle_file
  SOURCES subtitle_file_fuzz.cpp
          ${CMAKE_SOURCE_DIR}/pipeline/KvSubtitleFile.cpp
          ${CMAKE_SOURCE_DIR}/pipeline/KvSubtitleTrack.cpp
  LIBS velmora_common)
velmora_add_fuzzer(notice_feed
  SOURCES notice_feed_fuzz.cpp
          ${CMAKE_SOURCE_DIR}/frontend/KvNoticeFeed.cpp
  LIBS velmora_xml velmora_common)
