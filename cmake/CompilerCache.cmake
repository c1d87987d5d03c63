# When ccache is installed, every compilation goes through it, so that a build folder made
# afresh (or a second clone) compiles only what changed since the cache last saw it.  It is
# not a dependency: without it, or with -DSQLSH_CCACHE=OFF, the compiler runs directly.
#
# The settings travel with the launcher rather than in the user's ccache configuration:
#  - base_dir is the source tree, so that clones in other folders share results;
#  - hash_dir is off for the same reason: the line tables then may name the folder where the
#    cached object was first compiled, which changes only the paths a report prints;
#  - the sloppiness allows the test targets' precompiled header to be cached and used.
option(SQLSH_CCACHE "Compile through ccache when it is installed" ON)
if(SQLSH_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(SQLSH_CCACHE_PROGRAM ccache)
  if(SQLSH_CCACHE_PROGRAM)
    set(launcher
        env
        CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}
        CCACHE_NOHASHDIR=1
        CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
        ${SQLSH_CCACHE_PROGRAM})
    set(CMAKE_C_COMPILER_LAUNCHER ${launcher})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${launcher})
    message(STATUS "Compiling through ${SQLSH_CCACHE_PROGRAM}")
  endif()
endif()
