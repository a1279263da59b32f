# Compiles a program's .rc script with the standard resource compiler into
# a .res image and embeds it in the target, where the windowing stand-in
# reads it as the program's resources.
find_program(QZR_WINDRES NAMES i686-w64-mingw32-windres windres)
# windres looks for a MinGW compiler to preprocess with; the host one does.
find_program(QZR_RC_CPP NAMES cpp REQUIRED)

function(qzr_embed_resources target rc_file)
  if(NOT QZR_WINDRES)
    message(FATAL_ERROR "windres not found: install binutils-mingw-w64-i686")
  endif()
  get_filename_component(rc_abs ${rc_file} ABSOLUTE)
  get_filename_component(rc_dir ${rc_abs} DIRECTORY)
  get_filename_component(rc_name ${rc_abs} NAME_WE)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${target}_${rc_name}.res)
  set(src ${CMAKE_CURRENT_BINARY_DIR}/${target}_${rc_name}_res.c)
  file(GLOB rc_deps ${rc_dir}/*.bmp ${rc_dir}/*.ico ${rc_dir}/*.h)
  add_custom_command(
    OUTPUT ${res}
    COMMAND ${QZR_WINDRES} --preprocessor=${QZR_RC_CPP} --preprocessor-arg=-DRC_INVOKED -O res -I ${rc_dir} -I ${PROJECT_SOURCE_DIR}/nt/include -i ${rc_abs} -o ${res}
    DEPENDS ${rc_abs} ${rc_deps}
    COMMENT "windres ${rc_name}.rc"
    VERBATIM)
  add_custom_command(
    OUTPUT ${src}
    COMMAND ${CMAKE_COMMAND} -DIN=${res} -DOUT=${src} -DSYMBOL=qzr_program_res -P
            ${PROJECT_SOURCE_DIR}/cmake/embed_bytes.cmake
    DEPENDS ${res} ${PROJECT_SOURCE_DIR}/cmake/embed_bytes.cmake
    VERBATIM)
  target_sources(${target} PRIVATE ${src})
endfunction()
