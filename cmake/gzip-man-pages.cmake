# Run by CPack on its staging tree before packaging: gzips the manual pages
# there, reproducibly (no name or time stamp in the archive), as Debian does.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.[1-9]")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip ${page} failed")
  endif()
endforeach()
