# project_warnings: the warning set every target of ours compiles with.
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra -Werror)
