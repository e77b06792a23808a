# The shared test streams: beside the repository, in ../shared/streams. A
# clone made somewhere else (a temporary folder) finds them beside the
# repository it was cloned from.
function(tarnwell_streams_dir out)
  set(dir "${PROJECT_SOURCE_DIR}/../shared/streams")
  if(NOT EXISTS "${dir}")
    execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" config --get remote.origin.url
                    OUTPUT_VARIABLE origin OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(origin AND EXISTS "${origin}/../shared/streams")
      set(dir "${origin}/../shared/streams")
    endif()
  endif()
  get_filename_component(dir "${dir}" ABSOLUTE)
  set(${out} "${dir}" PARENT_SCOPE)
endfunction()
