#pragma once

#include <functional>

// Runs one command of the user interface. A failure it throws ends the command where
// it stands (nothing is rolled back) and its message is shown in the standard error
// box; no exception ever leaves a Qt slot.
void RunCommand(const std::function<void()> &command);
