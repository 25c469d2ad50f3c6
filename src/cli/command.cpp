#include "cli/command.h"

Command::~Command() = default;
