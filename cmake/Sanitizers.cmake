# SQLSH_SANITIZE=ON builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer (leak checking comes with ASan on Linux).
#
# Such a build exists to run the tests, so it is compiled for that: -O1, the level the
# sanitizers are designed for (it keeps every check and compiles in half the time of -O2),
# and line tables only (-g1), which is all a report needs to name files, lines and functions.
# The options come after the build type's flags, so they take precedence.
option(SQLSH_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(SQLSH_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
                      -O1 -g1)
  add_link_options(-fsanitize=address,undefined)
endif()
