#pragma once
#include <stdexcept>
#include <string>

#include <QString>

namespace yunshan {

// An error reported by the database engine; what() carries the engine's message (UTF-8).
class DbError : public std::runtime_error {
public:
    explicit DbError(const std::string &message) : std::runtime_error(message) {}
    QString message() const { return QString::fromUtf8(what()); }
};

} // namespace yunshan
