# Run by the consumer.install_and_build test (see CMakeLists.txt): every step
# must succeed and each consumer must print the exact value of
# 0.1 + 0.2 - 0.3, which is 2^-55.
set(expected "2.775557562e-17\n")

# Runs a command; stops the test with its output when it fails, else leaves
# its standard output in `out`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE output
                  ERROR_VARIABLE error)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${rc}): ${command}\n${output}${error}")
  endif()
  set(out "${output}" PARENT_SCOPE)
endfunction()

function(expect what actual wanted)
  if(NOT actual STREQUAL wanted)
    message(FATAL_ERROR "${what} printed '${actual}', expected '${wanted}'")
  endif()
endfunction()

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
    --config "${CONFIG}")
# Programs must run from the rpaths alone.
set(clean_env "${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH)

run("${CMAKE_COMMAND}" -S "${PROJECT_DIR}" -B "${WORK_DIR}/cmake" -G "${GENERATOR}"
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX}"
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DBORINGSSL_ROOT_DIR=${BORINGSSL_ROOT_DIR}"
    -DCMAKE_BUILD_TYPE=Release)
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/cmake")
run(${clean_env} "${WORK_DIR}/cmake/consumer")
expect("find_package consumer" "${out}" "${expected}")

file(MAKE_DIRECTORY "${WORK_DIR}/make")
run("${CMAKE_COMMAND}" -E env "PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig"
    "${MAKE}" -C "${WORK_DIR}/make" -f "${PROJECT_DIR}/Makefile"
    "SRCDIR=${PROJECT_DIR}/" "CXX=${CXX}" "CXXFLAGS=-O2 ${FLAGS}"
    "PKG_CONFIG=${PKG_CONFIG}")
run(${clean_env} "${WORK_DIR}/make/consumer")
expect("pkg-config consumer" "${out}" "${expected}")

run(${clean_env} "${prefix}/bin/exactcalc" "0.1 + 0.2 - 0.3")
expect("installed exactcalc" "${out}" "${expected}")
