// Bazel's way to take a piece of the index in as text: FILE written into OUT as one C++ raw
// string literal (the CMake and Meson builds do this while configuring).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: literal FILE OUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    if (!(text << in.rdbuf())) {
        std::cerr << "literal: " << argv[1] << ": could not be read\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out << "R\"vormesta(" << text.str() << ")vormesta\"\n";
    out.close();
    if (!out) {
        std::cerr << "literal: " << argv[2] << ": could not be written\n";
        return 1;
    }
    return 0;
}
