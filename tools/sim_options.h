#pragma once

#include <QString>
#include <QStringList>
#include <variant>

#include "tools/terminal/terminal.h"

namespace corvelle::sim {

struct SimOptions {
    // The template every terminal is made from; its name is the prefix for several.
    TerminalConfig base;
    int terminals = 1;
    bool verbose = false;
};

// The options of a command line, or a message saying what is wrong with it. --help and
// --version print and end the process here.
std::variant<SimOptions, QString> ParseOptions(const QStringList& arguments);

}  // namespace corvelle::sim
