// The owner of the test targets' precompiled header: CMake builds the header with this
// target, and every GoogleTest executable reuses it.  The unit itself is empty.
