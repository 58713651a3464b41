// The same libraries through the C++ view: a range found by std::string_view.
#include "vormesta/site.h"

#include <cstdio>
#include <string_view>

extern "C" int check_cpp() {
    int failed = 0;
    const vormesta_file* index = site_files.find(std::string_view("index.html.extra", 10));
    if (!index || vormesta::text(*index).substr(0, 15) != "<!doctype html>")
        ++failed, std::puts("FAILED: C++ find of index.html");
    // The same negotiation in C++: site has no forms, so the bytes as they are.
    if (vormesta_negotiate(index, "gzip, br") != nullptr)
        ++failed, std::puts("FAILED: C++ negotiated a form site does not have");
    if (site_files.find("index.htm") || site_files.find(""))
        ++failed, std::puts("FAILED: C++ found what is not there");
    std::size_t walked = 0;
    for (const vormesta_file& file : site_files)
        walked += site_files.find(file.path) == &file;
    if (walked != site_files.size() || walked != site_count())
        ++failed, std::puts("FAILED: C++ walk");
    return failed;
}
