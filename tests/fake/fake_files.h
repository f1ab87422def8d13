#pragma once
// The static list file the fake file layer serves.
#include <string>

// The bytes of "lanxroute.static"; empty: there is no such file.
extern std::string fake_static_file;
