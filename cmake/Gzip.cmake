# cmake -DIN=FILE -DOUT=FILE.gz -P Gzip.cmake: compresses at the highest level, without the
# file's name and time in the header, so that two builds give the same bytes.
execute_process(COMMAND gzip -9 -n -c "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${OUT}")
  message(FATAL_ERROR "gzip ${IN}: ${result}")
endif()
