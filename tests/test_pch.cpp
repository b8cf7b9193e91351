// The translation unit that carries the test executables' precompiled header.
