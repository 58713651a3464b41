// Bazel's way to take a piece of the index in as text: FILE written into OUT as C++ raw string
// literals, a new one at each blank line, since MSVC takes no literal past 16 KiB (the CMake and
// Meson builds do this while configuring).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

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
    std::string pieces = text.str();
    for (std::size_t at = 0; (at = pieces.find("\n\n", at)) != std::string::npos; at += 20)
        pieces.replace(at, 2, "\n\n)vormesta\"\nR\"vormesta(");
    out << "R\"vormesta(" << pieces << ")vormesta\"\n";
    out.close();
    if (!out) {
        std::cerr << "literal: " << argv[2] << ": could not be written\n";
        return 1;
    }
    return 0;
}
