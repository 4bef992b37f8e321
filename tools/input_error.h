// Bad input: one line naming the file, the line and the column.
#pragma once

#include <stdexcept>
#include <string>

class InputError : public std::runtime_error {
public:
    InputError(const std::string& file, int line, int column, const std::string& message)
        : std::runtime_error(Format(file, line, column, message)) {}

private:
    static std::string Format(const std::string& file, int line, int column, const std::string& message) {
        std::string where = file;
        if (line > 0) where += ":" + std::to_string(line);
        if (line > 0 && column > 0) where += ":" + std::to_string(column);
        return where + ": " + message;
    }
};
