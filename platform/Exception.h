#pragma once

#include <QString>

#include <exception>
#include <string>

// Base of every failure kelvo raises. It carries the sentence the user reads in the
// standard error box; layers below the windows never show anything themselves.
class Exception : public std::exception
{
public:
    explicit Exception(const QString &message) : Message(message) {}

    // Made when asked: a message reworded on its way up (the server's words added, a
    // password taken out) is the one every reader gets.
    const char *what() const noexcept override
    {
        try {
            utf8 = Message.toStdString();
        } catch (...) {
        }
        return utf8.c_str();
    }

    QString Message;

private:
    mutable std::string utf8;
};
