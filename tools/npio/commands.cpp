#include "commands.h"

namespace npio_tool {

int runSearch(const GlobalOptions&, OptionReader&);
int runList(const GlobalOptions&, OptionReader&);
int runRead(const GlobalOptions&, OptionReader&);
int runWrite(const GlobalOptions&, OptionReader&);
int runFilter(const GlobalOptions&, OptionReader&);
int runVersion(const GlobalOptions&, OptionReader&);
int runWatch(const GlobalOptions&, OptionReader&);

const std::vector<Command>& commands() {
  static const std::vector<Command> table = {
      {"search", "find relays (with connected boards) on the local networks",
       "usage: npio search [--time MS]\n"
       "Broadcasts the relay query from every local address and lists, after\n"
       "MS milliseconds (default 1000), each relay that has a connected board:\n"
       "its address, number of connected boards and client port.\n",
       runSearch},
      {"list", "list the boards connected to the relay",
       "usage: npio [--relay HOST[:PORT]] list\n"
       "Lists the relay's connected boards: type code, Board ID, address, MAC\n"
       "address and the number of connections that have the board open.\n",
       runList},
      {"read", "read inputs or outputs as byte, word or dword",
       "usage: npio [unit options] read in|out byte|word PORT\n"
       "       npio [unit options] read in|out dword\n"
       "Prints the value in hex. PORT 0..3 (default 0); a word from port 3 is\n"
       "port 3 alone.\n",
       runRead},
      {"write", "write outputs as byte, word or dword",
       "usage: npio [unit options] write byte|word PORT VALUE\n"
       "       npio [unit options] write dword VALUE\n"
       "Writes VALUE (decimal or 0x hex) to the outputs; other ports keep their\n"
       "state. A word at port 3 writes only its low byte, to port 3.\n",
       runWrite},
      {"filter", "set the input filter of groups of inputs",
       "usage: npio [unit options] filter GROUPMASK SETTING\n"
       "GROUPMASK 0..255 selects groups 0..7 of four inputs each; SETTING 0..15\n"
       "is written to every selected group.\n",
       runFilter},
      {"version", "read a board's firmware version",
       "usage: npio [unit options] version\n"
       "Prints the board's two version words in hex.\n",
       runVersion},
      {"watch", "print each change of the inputs with a time stamp",
       "usage: npio [unit options] watch [--interval MS] [--changes N]\n"
       "Reads the inputs every MS milliseconds (default 100) and prints a time\n"
       "stamp, the inputs and the bits that changed, until interrupted or until\n"
       "N lines have been printed (the first line shows the starting state).\n",
       runWatch},
  };
  return table;
}

}  // namespace npio_tool
