#pragma once

#include <QString>

// The user's runtime folder (XDG_RUNTIME_DIR), private to the user, where this user's
// copies find each other; empty when the session has none, as over some remote logins:
// the copies then do not share their ports.
QString userRuntimeFolder();
