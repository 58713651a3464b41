// The command line and the one conversion a run performs.
#include "array_writer.hpp"
#include "naming.hpp"
#include "output.hpp"
#include "platform.hpp"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Failure messages carry no line end; the process status tells the rest.
bool fail(const char* message) {
    vormesta::platform::print(message);
    return false;
}

bool close_input(File& file) {
    return std::fclose(file.release()) == 0;
}

const char* message_for(vormesta::WriteResult result) {
    switch (result) {
    case vormesta::WriteResult::read_failed:
        return "couldn't read infile";
    case vormesta::WriteResult::out_of_memory:
        return "out of memory";
    case vormesta::WriteResult::write_failed:
    case vormesta::WriteResult::ok:
        break;
    }
    return "couldn't write outfile";
}

// Names the header after the input; the pair is built before anything is written.
bool make_names(const char* input_path, std::string& output_path, std::string& array_name) {
    try {
        const std::string path(input_path);
        const std::size_t base_length = vormesta::find_base_length(path);
        output_path = vormesta::make_output_path(path, base_length);
        array_name = vormesta::make_array_name(path, base_length);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool convert_file(const char* input_path) {
    namespace platform = vormesta::platform;
    File in(platform::open_input(input_path));
    if (!in)
        return fail("couldn't open infile");
    // What cannot be told apart from the header is not replaced by it.
    platform::InputFacts input;
    if (!platform::facts_of_input(in.get(), input))
        return fail("couldn't open outfile");
    if (input.is_directory)
        return fail("couldn't open infile");

    std::string output_path;
    std::string array_name;
    if (!make_names(input_path, output_path, array_name))
        return fail("out of memory");

    // The header replaces what is at its path: that must not be the input under another name.
    vormesta::Output out;
    switch (out.open(output_path.c_str(), input.id)) {
    case vormesta::Output::Opened::is_input:
        return fail("outfile would overwrite infile");
    case vormesta::Output::Opened::failed:
        return fail("couldn't open outfile");
    case vormesta::Output::Opened::out_of_memory:
        return fail("out of memory");
    case vormesta::Output::Opened::ok:
        break;
    }

    // Written in binary: the writer puts the host's own line end in, as text mode would. A file
    // that changed while it was read (a generator rewriting it) would give a header of neither
    // its old bytes nor its new ones.
    std::uint64_t bytes_read = 0;
    vormesta::WriteResult result = vormesta::write_array(
        in.get(), out.file(), array_name, platform::line_end, input.size, &bytes_read);
    if (result == vormesta::WriteResult::ok &&
        !platform::input_unchanged(in.get(), input, bytes_read))
        result = vormesta::WriteResult::read_failed;
    if (!close_input(in) && result == vormesta::WriteResult::ok)
        result = vormesta::WriteResult::read_failed;
    if (result == vormesta::WriteResult::ok && !out.commit())
        result = vormesta::WriteResult::write_failed;
    if (result == vormesta::WriteResult::ok)
        return true;

    // The header's path keeps what it held: a partial header would pass for up to date.
    out.discard();
    return fail(message_for(result));
}

} // namespace

int main(int argc, char* argv[]) {
    vormesta::platform::handle_stops();
    if (!vormesta::platform::utf8_arguments(argc, argv)) {
        fail("out of memory");
        return 1;
    }
    if (argc == 2)
        return convert_file(argv[1]) ? 0 : 1;
    vormesta::platform::print("vormesta v0.1 by ulmvar\n");
    vormesta::platform::print("usage: ");
    vormesta::platform::print(argc > 0 && argv[0] ? argv[0] : "vormesta");
    vormesta::platform::print(" infile\n");
    return 1;
}
