# zoba_split_debug(<target>)
# With ZOBA_SPLIT_DEBUG, strips <target> after each link and keeps its debug symbols
# beside it in <file>.debug, linked by a debug link. The dynamic symbols stay: the
# launcher finds its disclaim hook with dlsym in its own executable.
option(ZOBA_SPLIT_DEBUG "Strip the helper and keep its debug symbols in a .debug file beside it" OFF)

function(zoba_split_debug target)
  if(NOT ZOBA_SPLIT_DEBUG)
    return()
  endif()
  find_program(ZOBA_OBJCOPY NAMES objcopy REQUIRED)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${ZOBA_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${ZOBA_OBJCOPY} --strip-debug --strip-unneeded
            --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Splitting the debug symbols of ${target}"
    VERBATIM)
endfunction()
