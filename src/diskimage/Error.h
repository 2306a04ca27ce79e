// The one root of every failure the core reports about an image, a file system or a
// file's contents. what() is the message the user is shown, so a shell that catches
// Error needs nothing more than its text.
#pragma once

#include <stdexcept>

namespace Quarrybox {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace Quarrybox
