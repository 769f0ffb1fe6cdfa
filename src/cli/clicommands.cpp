#include "cli/clicommands.h"

#include "app/appcore.h"
#include "platform/paths.h"
#include "table/itemtable.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

#include <optional>

namespace {

struct TInvocation {
    QString workDir;
    QString command;
    QStringList args;
};

// A usage error: the message, then the usage text, exit status 2.
struct TUsageError {
    QString message;
};

std::optional<int> parseRow(const QString& text) {
    bool ok = false;
    const int row = text.toInt(&ok);
    return ok ? std::optional<int>(row) : std::nullopt;
}

// One line of plain output per cell text: tabs and line breaks inside a cell become spaces.
QString flat(QString text) {
    for (QChar& c : text)
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    return text;
}

int printTable(const TItemTable& grid, bool json, QTextStream& out) {
    if (json) {
        QJsonArray rows;
        for (const QStringList& cells : grid.Snapshot())
            rows.append(QJsonArray::fromStringList(cells));
        out << QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact)) << '\n';
        return int(TCliExit::Ok);
    }
    const int rowCount = grid.RowCount();
    for (int r = 1; r < rowCount; ++r) {
        const QString mark = TItemTable::IsSelectedMark(grid.Cell(ColSelect, r)) ? QStringLiteral("[x]")
                                                                                 : QStringLiteral("[ ]");
        out << flat(grid.Cell(ColNo, r)) << '\t' << mark << '\t' << flat(grid.Cell(ColTitle, r)) << '\t'
            << flat(grid.Cell(ColPrice, r)) << '\t' << flat(grid.Cell(ColDelivery, r)) << '\n';
    }
    return int(TCliExit::Ok);
}

// Checks a command's arguments before anything is loaded, so a usage error touches no file.
void checkArguments(const TInvocation& inv) {
    const QString& c = inv.command;
    const qsizetype n = inv.args.size();
    if (c == u"table") {
        if (n > 1 || (n == 1 && inv.args[0] != u"--json"))
            throw TUsageError{QStringLiteral("table takes no arguments other than --json")};
    } else if (c == u"select") {
        if (n != 1 || inv.args[0] != u"all")
            throw TUsageError{QStringLiteral("the command is: select all")};
    } else if (c == u"invert") {
        if (n != 0)
            throw TUsageError{QStringLiteral("invert takes no arguments")};
    } else if (c == u"toggle" || c == u"delete") {
        if (n == 0 || (c == u"delete" && n != 1))
            throw TUsageError{c == u"toggle" ? QStringLiteral("toggle needs one or more row numbers")
                                             : QStringLiteral("delete needs exactly one row number")};
        for (const QString& a : inv.args)
            if (!parseRow(a))
                throw TUsageError{QStringLiteral("not a row number: ") + a};
    } else {
        throw TUsageError{QStringLiteral("unknown command: ") + c};
    }
}

int runCommand(TAppCore& core, const TInvocation& inv, QTextStream& out, QTextStream& err) {
    TItemTable& grid = *core.StringGrid1();
    const QString& c = inv.command;
    if (c == u"table")
        return printTable(grid, !inv.args.isEmpty(), out);
    if (c == u"select") {
        grid.SelectAll();
        return int(TCliExit::Ok);
    }
    if (c == u"invert") {
        grid.InvertSelection();
        return int(TCliExit::Ok);
    }
    // toggle and delete: every row must be a data row of the table, checked before any change.
    QList<int> rows;
    for (const QString& a : inv.args) {
        const int row = *parseRow(a);
        if (row < 1 || row >= grid.RowCount()) {
            err << "row " << row << " does not exist: the table has " << grid.RowCount() - 1
                << " data row(s)\n";
            return int(TCliExit::Failure);
        }
        rows.append(row);
    }
    if (c == u"toggle") {
        for (int row : rows)
            grid.ToggleMark(row);
    } else {
        StringGridDel(grid, rows.first());
    }
    return int(TCliExit::Ok);
}

} // namespace

QString CliUsage() {
    return QStringLiteral(
        "usage: tovrel-cli [--workdir DIR] COMMAND [ARGS]\n"
        "\n"
        "Runs one command on the program's saved state (the working directory, by default the\n"
        "folder of the executable) and saves the state again, as the window does when it closes.\n"
        "\n"
        "commands:\n"
        "  table [--json]     print the item table: one line per item with number, selection\n"
        "                     mark ([x] selected, [ ] not), title, price and delivery, separated by\n"
        "                     tabs; --json prints every row, the caption row included, as JSON\n"
        "  select all         select every item\n"
        "  invert             invert the selection\n"
        "  toggle ROW...      flip the selection of the given items (numbers as in `table`)\n"
        "  delete ROW         delete one item; the items below it are renumbered\n"
        "\n"
        "exit status: 0 success, 1 failure, 2 usage error\n");
}

int RunCli(const QStringList& args, QTextStream& out, QTextStream& err) {
    TInvocation inv;
    try {
        qsizetype i = 0;
        for (; i < args.size(); ++i) {
            const QString& a = args[i];
            if (a == u"--help" || a == u"-h") {
                out << CliUsage();
                return int(TCliExit::Ok);
            }
            if (a == u"--workdir") {
                if (i + 1 >= args.size())
                    throw TUsageError{QStringLiteral("--workdir needs a folder")};
                inv.workDir = args[++i];
                continue;
            }
            if (a.startsWith(u"--"))
                throw TUsageError{QStringLiteral("unknown option: ") + a};
            break;
        }
        if (i >= args.size())
            throw TUsageError{QStringLiteral("no command given")};
        inv.command = args[i];
        inv.args = args.mid(i + 1);
        checkArguments(inv);
    } catch (const TUsageError& e) {
        err << "tovrel-cli: " << e.message << "\n\n" << CliUsage();
        return int(TCliExit::Usage);
    }

    if (!inv.workDir.isEmpty()) {
        if (!QDir(inv.workDir).exists()) {
            err << "tovrel-cli: the working folder does not exist: " << inv.workDir << '\n';
            return int(TCliExit::Failure);
        }
        TPaths::SetWorkDir(inv.workDir);
    }

    TAppCore core;
    // The texts the window would show go to the error stream, one line each. Workers may report
    // from their threads, so the writes are serialised.
    auto errLock = std::make_shared<QMutex>();
    auto say = [&err, errLock](const QString& text) {
        QMutexLocker lock(errLock.get());
        err << text << '\n';
        err.flush();
    };
    QObject::connect(&core, &TAppCore::statusTextChanged, &core, say, Qt::DirectConnection);
    QObject::connect(&core, &TAppCore::logLine, &core, say, Qt::DirectConnection);

    core.Startup();
    const int status = runCommand(core, inv, out, err);
    core.SaveState();
    out.flush();
    err.flush();
    return status;
}
