// The record's texts are in code page 932, as the host editor shows them;
// a terminal wants UTF-8.
#pragma once

#include <string>

namespace zeverive::cli {

// Bytes that are not valid CP932 come out as \xNN so that a damaged label
// is still visible rather than dropped.
std::string cp932_to_utf8(const char* text);

}  // namespace zeverive::cli
