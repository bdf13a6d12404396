# The plug-ins the console's video uses, for suites that register them in a registry of their own.
function(kavro_video_plugins target)
  target_compile_definitions(${target} PRIVATE
    KAVRO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" REGSVR32="$<TARGET_FILE:regsvr32>" NOIR_AX="$<TARGET_FILE:noir>"
    ADLINK_AX="$<TARGET_FILE:adlink>" CAMIP1_AX="$<TARGET_FILE:camip1>" CAMIP2_AX="$<TARGET_FILE:camip2>"
    CAMIP3_AX="$<TARGET_FILE:camip3>" CAMIP4_AX="$<TARGET_FILE:camip4>" CAPTEUR_AX="$<TARGET_FILE:capteur>"
    RECEIVER_AX="$<TARGET_FILE:jpeg_receiver>" VIEWERS_DLL="$<TARGET_FILE:viewers>" MESH_AX="$<TARGET_FILE:mesh>")
  add_dependencies(${target} regsvr32 noir adlink camip1 camip2 camip3 camip4 capteur jpeg_receiver viewers mesh)
endfunction()
