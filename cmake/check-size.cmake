# Fails the build when FILE is larger than LIMIT bytes: the update package is appended to
# the updater at a fixed offset, so the program image must end before it.
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE} is ${size} bytes, over the limit of ${LIMIT}")
endif()
message(STATUS "${FILE}: ${size} bytes of at most ${LIMIT}")
