#pragma once

#include "identity/identity.h"

#include <QString>

#include <variant>

// This installation's identity from folder, made the first time, for the private port; or
// what the person must read when it cannot be had, as then everything goes in the clear.
std::variant<Identity, QString> openPrivateIdentity(const QString& folder);
