#pragma once

#include <stdexcept>
#include <string>

namespace pe_loader {

// A DLL that cannot be loaded; the message names the file and what was wrong.
class LoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace pe_loader
