# systemd-analyze verify on the service unit template, as an instance, with
# ExecStart pointing at the built command-line program (verify wants it to
# exist). Any complaint fails: verify itself exits 0 for unknown keys.
# cmake -DUNIT=... -DCLI=... -DWORK_DIR=... -P <this>
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(READ ${UNIT} text)
string(REGEX REPLACE "ExecStart=[^ ]+" "ExecStart=${CLI}" text "${text}")
file(WRITE "${WORK_DIR}/tarvelo-record@station1.service" "${text}")
execute_process(COMMAND systemd-analyze verify --man=no
                        "${WORK_DIR}/tarvelo-record@station1.service"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE ${WORK_DIR})
if(NOT result EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
  message(FATAL_ERROR "systemd-analyze verify (${result}):\n${out}${err}")
endif()
