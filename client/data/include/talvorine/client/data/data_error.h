#pragma once
// The one error of the client's local data: a text meant to be shown to the user as it is
// (a message store's "File is crashed.", the legality text, or a file error with its path).

#include <stdexcept>
#include <string>

namespace talvorine::client::data {

class DataError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace talvorine::client::data
