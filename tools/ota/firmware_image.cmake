# nx7_firmware_image(OUTPUT <file> VERSION <text> [SIZE <bytes>])
# Produces <file> at build time: a copy of NX7_FIRMWARE_IMAGE when that is set, otherwise a
# placeholder application image written by mkfwimage. Use the output in the same directory
# (for example as a Qt resource) so the build knows the dependency.
function(nx7_firmware_image)
    cmake_parse_arguments(ARG "" "OUTPUT;VERSION;SIZE" "" ${ARGN})
    if(NOT ARG_OUTPUT OR NOT ARG_VERSION)
        message(FATAL_ERROR "nx7_firmware_image: OUTPUT and VERSION are required")
    endif()
    if(NOT ARG_SIZE)
        set(ARG_SIZE 65536)
    endif()
    if(NX7_FIRMWARE_IMAGE)
        add_custom_command(OUTPUT ${ARG_OUTPUT}
            COMMAND ${CMAKE_COMMAND} -E copy ${NX7_FIRMWARE_IMAGE} ${ARG_OUTPUT}
            DEPENDS ${NX7_FIRMWARE_IMAGE}
            COMMENT "Copying the firmware image ${NX7_FIRMWARE_IMAGE}"
            VERBATIM)
    else()
        add_custom_command(OUTPUT ${ARG_OUTPUT}
            COMMAND mkfwimage --version ${ARG_VERSION} --size ${ARG_SIZE} -o ${ARG_OUTPUT}
            DEPENDS mkfwimage
            COMMENT "Generating the placeholder firmware image ${ARG_VERSION}"
            VERBATIM)
    endif()
endfunction()
