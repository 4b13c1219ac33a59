# One fuzz target as ctest runs it:
#   cmake -DFUZZER=program -DCORPUS=seeds -DWORK=folder -DSEED=n -DRUNS=n -P run_fuzz.cmake
# First every input of the checked-in corpus on its own, then a run with a fixed seed for a
# fixed number of inputs. That run starts from the checked-in corpus alone: what it adds
# goes to a work folder that is emptied first, never to the source tree.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")

file(GLOB seeds LIST_DIRECTORIES false "${CORPUS}/*")
if(NOT seeds)
  message(FATAL_ERROR "no seeds in ${CORPUS}")
endif()
execute_process(COMMAND "${FUZZER}" ${seeds} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "an input of ${CORPUS} fails (${status})")
endif()

# Two things would make the run differ from one time to the next: reading the folder back
# on a timer (-reload), and mutations built from the operands of comparisons (-use_cmp),
# which hold addresses and process ids that change with every start.
execute_process(COMMAND "${FUZZER}" -seed=${SEED} -runs=${RUNS} -reload=0 -use_cmp=0
                        -print_final_stats=1
                        -artifact_prefix=${WORK}/artifacts/ "${WORK}/corpus" "${CORPUS}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "seed ${SEED} finds a failing input (${status}), kept in ${WORK}/artifacts")
endif()
