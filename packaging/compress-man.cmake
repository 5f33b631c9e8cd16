# Run by CPack on its staging tree before it builds the package: Debian ships
# manual pages and the changelog gzip-compressed (gzip -n keeps the package
# reproducible).
file(GLOB_RECURSE _pages "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man*/*.[1-9]"
     "${CPACK_TEMPORARY_DIRECTORY}/*/share/doc/*/changelog")
foreach(_page IN LISTS _pages)
  execute_process(COMMAND gzip -9nf "${_page}" RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "gzip ${_page} failed (${_rc})")
  endif()
endforeach()
