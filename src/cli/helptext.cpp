#include "cli/helptext.h"

#include "cli/commandcatalog.h"

namespace
{

const char* const kOverview =
    "Usage: quillo                 open the window\n"
    "       quillo SUBCOMMAND ...  work without a window\n"
    "       quillo --help | --version\n"
    "\n"
    "Subcommands (quillo SUBCOMMAND --help tells more about one):\n"
    "  receive   receive files on TCP ports 1052 and 1053 into a folder, until stopped\n"
    "  send      send files to a peer\n"
    "  chat      send one chat line to a peer\n"
    "  listen    print online notices and chat lines as they arrive, until stopped\n"
    "  online    print who in the address book is online\n"
    "  serve     stay online without a window: receive, chat, deliver waiting files\n"
    "  key       print my safety code, or the code to compare with a person\n"
    "  forget    forget the key kept for a person in the address book\n"
    "\n"
    "A peer (--to) is a name in the address book, an IPv4 address or a host name.\n"
    "Every finished file is one tab-separated line on standard output:\n"
    "  %1\n"
    "  %2\n"
    "Problems go to standard error, and so does a progress bar when it is a terminal;\n"
    "receive, listen and serve say there when they are ready, and where they receive.\n"
    "Between copies of Quillo, files and chat lines go privately on TCP port 1053;\n"
    "to a program that speaks only the plain protocol, files go to TCP port 1052.\n"
    "Copies announce themselves and carry other chat lines on UDP port 1071.\n"
    "Ctrl-C or SIGTERM stops receive, listen and serve cleanly.\n";

const char* const kReceive =
    "Usage: quillo receive [--dir FOLDER] [--once] [--only-known] [--bind ADDRESS]\n"
    "\n"
    "Receives files on TCP port 1052, and privately on 1053, until stopped with Ctrl-C or\n"
    "SIGTERM. A file still arriving then stays a part file (NAME.part), as when the peer\n"
    "closes early. It gives its ports to a window of the same user, as serve does, and\n"
    "takes them back when the window closes. One line for each file:\n"
    "  %1\n"
    "  --dir FOLDER     save into this existing folder instead of the stored save folder\n"
    "  --once           stop after the first connection that brought a file: status 0\n"
    "                   when it was saved whole, 1 otherwise\n"
    "  --only-known     take files only from addresses in the address book\n";

const char* const kSend =
    "Usage: quillo send --to NAME|ADDRESS [--when-online [--timeout SECONDS]]\n"
    "                   [--retry SECONDS] [--localsend] [--pin PIN] [--bind ADDRESS]\n"
    "                   FILE|FOLDER...\n"
    "\n"
    "Sends the files one after another: to a copy of Quillo all of them over one private\n"
    "connection on TCP port 1053, to a program that speaks only the plain protocol each on\n"
    "a connection of its own to TCP port 1052. A file counts as sent once the receiver has\n"
    "confirmed every byte of it. A folder goes as one item: its files, with their paths\n"
    "inside it where the receiver takes folders, loose otherwise. One line for each file:\n"
    "  %1\n"
    "  --to NAME|ADDRESS  a name in the address book, an IPv4 address or a host name;\n"
    "                     a group of the address book, --to again, or names with commas\n"
    "                     (--to Anna,Bea) send to each person, three at a time, with a\n"
    "                     line per file and person; status 1 when any did not arrive\n"
    "  --when-online      first listen on UDP port 1071 until the peer announces itself,\n"
    "                     then send; the peer must be a name in the address book or an\n"
    "                     IP address, as announcements are known by their address\n"
    "  --timeout SECONDS  give up with status 1 when the peer has not announced itself\n"
    "                     within this time; without it, wait until stopped\n"
    "  --retry SECONDS    when a connection fails or breaks off, try again every two\n"
    "                     seconds for up to this time; a file cut off privately goes on\n"
    "                     from where it stopped. 0, the default, gives up at once\n"
    "  --localsend        the peer is a phone or computer that works with LocalSend\n"
    "                     devices: the files go over HTTPS to TCP port 53317 (or the\n"
    "                     entry's port), and the device's certificate is pinned in its\n"
    "                     address book entry on first contact. An address book entry\n"
    "                     that answered so before needs no --localsend\n"
    "  --pin PIN          the PIN such a device asks for\n";

const char* const kChat =
    "Usage: quillo chat --to NAME|ADDRESS [--bind ADDRESS] TEXT\n"
    "\n"
    "Sends TEXT as one chat line. To a person whose key is known it goes privately to TCP\n"
    "port 1053, and status 0 means it arrived; to anyone else it goes to UDP port 1071 of\n"
    "the peer, from UDP port 1071 when it is free, and nothing confirms that it arrived.\n"
    "  --to NAME|ADDRESS  a name in the address book, an IPv4 address or a host name\n";

const char* const kListen =
    "Usage: quillo listen [--human] [--bind ADDRESS]\n"
    "\n"
    "Receives announcements and chat lines on UDP port 1071, and private chat lines on TCP\n"
    "port 1053, until stopped with Ctrl-C or SIGTERM, and prints each as one line, with the\n"
    "names from the address book, as serve does:\n"
    "  %1          a person in the address book announced itself\n"
    "  %2   a chat line arrived\n"
    "It takes no files: a file offered on TCP port 1053 is turned away with the reason.\n"
    "It does not announce this computer.\n"
    "  --human          print what the Mini Chat shows instead (\"Anna is online at 10:02\",\n"
    "                   \"Anna Says: hello\")\n";

const char* const kOnline =
    "Usage: quillo online [--wait SECONDS] [--bind ADDRESS]\n"
    "\n"
    "Listens on UDP port 1071 for one round of announcements (every copy announces itself\n"
    "once a minute), then prints each entry of the address book as one line:\n"
    "  %1   or   %2\n"
    "It ends as soon as every entry has been heard. It does not announce this computer.\n"
    "  --wait SECONDS   listen this long at most instead of 70 seconds\n";

const char* const kServe =
    "Usage: quillo serve [--dir FOLDER] [--only-known] [--bind ADDRESS]\n"
    "\n"
    "Runs as the window does, without it, until stopped with Ctrl-C or SIGTERM: announces\n"
    "this computer on UDP port 1071 (3 seconds after the start, then every minute),\n"
    "receives files on TCP ports 1052 and 1053 (private), keeps the list of received files,\n"
    "and sends the files waiting for a person as soon as that person comes online. One line\n"
    "for each event:\n"
    "  %1\n"
    "  %2\n"
    "  %3          a person in the address book announced itself\n"
    "  %4   a chat line arrived\n"
    "Without --dir or a stored save folder it receives into the downloads folder, made when\n"
    "missing. When a window of the same user opens, serve gives it the ports (files then\n"
    "arriving end where they began) and takes them back as soon as it closes; standard\n"
    "error says so. It does not start while another program holds either port.\n"
    "  --dir FOLDER     save into this existing folder instead of the stored save folder\n"
    "  --only-known     take files only from addresses in the address book (also when\n"
    "                   the window's stored choice says so)\n";

const char* const kKey =
    "Usage: quillo key [NAME [--compared]]\n"
    "\n"
    "Prints this computer's safety code on one line, or with NAME the code you and that\n"
    "person compare: the same on both computers, made from both keys. Read it to each\n"
    "other in person or on the phone. A person's key is kept at the first private\n"
    "connection with their address, pinned but not yet compared; until then, there is no\n"
    "code to print (status 1).\n"
    "  --compared       the codes are the same: mark NAME's key compared\n";

const char* const kForget =
    "Usage: quillo forget NAME\n"
    "\n"
    "Forgets the key kept for NAME in the address book, so that the next private\n"
    "connection with that address keeps the key it shows. Do this when the person has a\n"
    "new key (Quillo reinstalled) and you have compared safety codes.\n";

const char* const kBindOption =
    "  --bind ADDRESS   use only this local address (for tests and multi-homed hosts)\n";
const char* const kHelpOption = "  -h, --help       show this help\n";

const char* const kExitCodes =
    "\n"
    "Exit status:\n"
    "  0  everything asked for was done (send: every file confirmed whole by the receiver)\n"
    "  1  something was not: a file not delivered, a port taken, a connection refused,\n"
    "     a peer that did not come online within --timeout...\n"
    "  2  a usage error: unknown subcommand or option, no --to, no files, no save folder\n"
    "     or one that cannot be written, a NAME that is not in the address book, a --to\n"
    "     that is neither such a name nor a host that can be found\n";

QString line(const char* kind)
{
    return outputLineShape(QLatin1String(kind));
}

QString subcommandText(const QString& topic)
{
    if (topic == QLatin1String("receive"))
        return QString::fromLatin1(kReceive).arg(line("received"));
    if (topic == QLatin1String("send"))
        return QString::fromLatin1(kSend).arg(line("sent"));
    if (topic == QLatin1String("chat"))
        return QString::fromLatin1(kChat);
    if (topic == QLatin1String("online"))
        return QString::fromLatin1(kOnline).arg(line("online"), line("offline"));
    if (topic == QLatin1String("serve"))
        return QString::fromLatin1(kServe).arg(line("received"), line("sent"), line("online"),
                                               line("chat"));
    if (topic == QLatin1String("key"))
        return QString::fromLatin1(kKey);
    if (topic == QLatin1String("forget"))
        return QString::fromLatin1(kForget);
    return QString::fromLatin1(kListen).arg(line("online"), line("chat"));
}

} // namespace

QString helpText(const QString& topic)
{
    const bool network = topic != QLatin1String("key") && topic != QLatin1String("forget");
    const QString options =
        (network ? QString::fromLatin1(kBindOption) : QString()) + QString::fromLatin1(kHelpOption);
    if (topic.isEmpty())
        return QString::fromLatin1(kOverview).arg(line("received"), line("sent")) +
               QStringLiteral("\nOptions of every subcommand (key and forget: --help only):\n") +
               options + QString::fromLatin1(kExitCodes);
    return subcommandText(topic) + options + QString::fromLatin1(kExitCodes);
}

QString versionText()
{
    return QStringLiteral("quillo " QUILLO_VERSION "\n");
}
