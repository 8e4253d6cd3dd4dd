#pragma once

#include <QString>

#include <exception>
#include <string>

// Base of every failure kelvo raises. It carries the sentence the user reads in the
// standard error box; layers below the windows never show anything themselves.
class Exception : public std::exception
{
public:
    explicit Exception(const QString &message) : Message(message), utf8(message.toStdString()) {}

    const char *what() const noexcept override { return utf8.c_str(); }

    QString Message;

private:
    std::string utf8;
};
