#pragma once
#include <QString>
#include <exception>
#include <string>

namespace pelvox {

// The one exception class of the product code; "raises X" throws Exception("X").
class Exception : public std::exception {
public:
    explicit Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toStdString()) {}
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.c_str(); }

private:
    QString FMessage;
    std::string FUtf8;
};

// The message of any exception, as the reporters write it.
QString ExceptionMessage(const std::exception& e);

} // namespace pelvox
