# Sourced by the scripts that build. The compiler is chosen the
# usual way, with CXX (CC too, though the project has no C sources):
#
#   CC=clang CXX=clang++ scripts/test
#
# and each compiler gets build folders of its own, so that a run with one
# never meets a CMake cache that another one wrote.

# The C++ compiler's command name; the empty text for the default (CXX unset).
compiler_name() {
    local name=${CXX:-}
    name=${name##*/}
    echo "$name"
}

# Usage: compiler_build_root ROOT -> ROOT/build for the default compiler,
# ROOT/build/clang for clang++, ROOT/build/clang-16 for clang++-16,
# ROOT/build/gcc-14 for g++-14.
compiler_build_root() {
    local name
    name=$(compiler_name)
    case $name in
        "") echo "$1/build"; return ;;
        clang++*) name=clang${name#clang++} ;;
        g++*) name=gcc${name#g++} ;;
        *) name=${name//+/p} ;;
    esac
    echo "$1/build/$name"
}

# The Debian packages that bring the compiler and its sanitizer runtime
# (clang's comes apart from it, in libclang-rt-N-dev).
compiler_packages() {
    local name
    name=$(compiler_name)
    case $name in
        clang++) echo clang libclang-rt-dev ;;
        clang++-*) echo "clang-${name#clang++-} libclang-rt-${name#clang++-}-dev" ;;
        g++-*) echo "$name" ;;
    esac
}
