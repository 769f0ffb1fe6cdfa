#pragma once

#include "base/result.h"

#include <QCommandLineOption>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

class QTextStream;
class TAppCore;

// What a command runs with: the core over the working folder and the two output streams.
struct TCliContext {
    TAppCore& core;
    QTextStream& out;
    QTextStream& err;
};

// A command's arguments as its parser found them: the positional ones in order, and the options
// given (a flag with the empty value).
struct TCliArgs {
    QStringList positional;
    QMap<QString, QString> options;
    bool Has(const QString& name) const { return options.contains(name); }
    QString Value(const QString& name) const { return options.value(name); }
};

// One command of tovrel-cli: its usage text, its options, a check of its arguments that runs before
// anything is loaded (so a usage error touches no file), and its body, which returns the exit
// status.
struct TCliCommand {
    QString name;
    QString usage;
    QList<QCommandLineOption> options;
    std::function<TStatus(const TCliArgs&)> check;
    std::function<int(TCliContext&, const TCliArgs&)> run;
    // Which of the working folder's state it works on (loaded at start, saved when it changed):
    // none, the links and settings alone (the table's file is neither read nor written), or all.
    enum class TState { None, AllButTable, Everything };
    TState state = TState::Everything;
    // How many positional arguments come before the options (edit's item number, which may be
    // written as a negative number and must not be taken for an option).
    int leadingArguments = 0;
};

// The commands, in the order the usage text lists them.
const QList<TCliCommand>& CliCommands();
const TCliCommand* FindCliCommand(const QString& name);

// A command's arguments parsed by its options; fails (TErrc::Refused) with what is wrong.
TResult<TCliArgs> ParseCliArgs(const TCliCommand& command, const QStringList& args);
