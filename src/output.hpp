// The header on its way to its path. The path keeps the previous header whole until the new one
// is whole, on every road the host leaves open.
#pragma once

#include "platform.hpp"

#include <cstdio>

namespace vormesta {

class Output {
  public:
    enum class Opened { ok, is_input, failed, out_of_memory };

    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() { discard(); }

    // Makes ready to write the header at `path`, unless that is the file `input`.
    Opened open(const char* path, const platform::FileId& input);
    // Where the header text goes.
    std::FILE* file() const { return road_ == Road::in_place ? in_place_ : temporary_.file(); }
    // Puts the text written at the path; false when that failed, and the output is then
    // discarded.
    bool commit();
    // The path keeps what it held, but on the last road, where the header was written in place.
    void discard();

  private:
    // The roads, best first.
    enum class Road {
        renamed,  // a temporary beside the header, renamed over it
        copied,   // a temporary where one can be made, copied into the header once complete
        in_place, // the header itself, emptied: devices, and where no temporary can be made
    };

    Opened take(Road road, bool opened);
    Opened write_in_place();
    bool copy_into_target();

    platform::Target target_;
    platform::Temporary temporary_;
    std::FILE* in_place_ = nullptr;
    Road road_ = Road::renamed;
    bool header_existed_ = false;
};

} // namespace vormesta
