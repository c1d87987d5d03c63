# project_warnings: the warning set every target of ours compiles with.  Warnings are errors
# only when SQLSH_WERROR is on (the test command and CI turn it on); a user's or a packager's
# build never fails because a newer compiler warns about something new.
option(SQLSH_WERROR "Treat compiler warnings as errors" OFF)
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra)
if(SQLSH_WERROR)
  target_compile_options(project_warnings INTERFACE -Werror)
endif()
