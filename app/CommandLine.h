#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks of this start: `kelvo [PICTURE]`, `-h`/`--help`, `-v`/`--version`.
struct CommandLineRequest
{
    // Set when the start ends here: 0 after the help or the version, 2 after a mistake.
    std::optional<int> ExitCode;
    // The picture to open, as an absolute path (it may be handed to a kelvo running in
    // another folder); empty when none was given.
    QString Picture;
};

// Reads the command line and prints what it asks for: the help or the version to standard
// output, a mistake with the usage to standard error. Needs a QCoreApplication, no display.
CommandLineRequest ReadCommandLine(const QStringList &arguments);

// Writes a line to standard error in the terminal's encoding.
void PrintError(const QString &line);
