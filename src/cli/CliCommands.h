#pragma once

// The commands of tamberlo-cli, one table: each command's name, its arguments, its help,
// the options that apply to it, whether it opens the port, and its handler. The parser
// checks options against it, the help is generated from it and the session runs the
// handler from it.

#include <QString>
#include <QStringList>
#include <vector>

namespace tamberlo::cli {

class Session;

struct Command {
    using Handler = void (*)(Session&);

    QString name;
    QString synopsis;    // the arguments after the name ("START END", "FILE | AUDIO...")
    QString summary;     // one line for the list
    QString details;     // the rest of `tamberlo-cli NAME --help`
    QStringList options; // the command's own options, without "--"
    bool needsPort = true;
    bool destructive = false; // asks before it acts (or --yes)
    Handler handler = nullptr;

    bool takesRows() const { return synopsis == QLatin1String("START END"); }
    bool takesFiles() const { return synopsis.startsWith(QLatin1String("FILE")); }
};

const std::vector<Command>& commands();
const Command* findCommand(const QString& name);
// tamberlo-cli hands the plan's commands to tamberlo-cli-plan; that program puts its own
// handlers in their place.
void setHandler(const QString& name, Command::Handler handler);

// The handlers of the chip commands (CliChip.cpp).
namespace handlers {
void ports(Session& s);
void init(Session& s);
void id(Session& s);
void status(Session& s);
void play(Session& s);
void stop(Session& s);
void record(Session& s);
void fwd(Session& s);
void erase(Session& s);
void eraseAll(Session& s);
void setPlay(Session& s);
void setRec(Session& s);
void setErase(Session& s);
void apc(Session& s);
void map(Session& s);
void help(Session& s);
// plan, program, export, audio-devices in tamberlo-cli: runs tamberlo-cli-plan.
void planTool(Session& s);
} // namespace handlers

} // namespace tamberlo::cli
