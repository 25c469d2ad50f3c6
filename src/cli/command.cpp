#include "cli/command.h"

Command::~Command() = default;

void Command::setPrivacy(const Identity*, PeerKeys*) {}
