#pragma once

#include <QStringList>

class QTextStream;

// Exit statuses of tovrel-cli.
enum class TCliExit : int { Ok = 0, Failure = 1, Usage = 2, Interrupted = 130 };

// Runs one tovrel-cli invocation. `args` are the arguments after the program name. Results go
// to `out`; the texts the window would show (status bar, run log, messages) and errors go to
// `err`.
int RunCli(const QStringList& args, QTextStream& out, QTextStream& err);

QString CliUsage();
