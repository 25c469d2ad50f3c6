#pragma once

#include <QString>

// The save folder is chosen with a Save As dialog: the user moves into the wanted folder
// and confirms the preset name "SELECT A FOLDER AND CLICK SAVE>>>". The folder is what
// stands before that name: everything up to and including the first separator that is
// directly followed by "SELECT" (case-sensitive), or the empty text when there is none.
QString saveFolderFromDialogPath(const QString& dialogPath);

// A chosen folder as the save folder: its path with the separator at the end, so that a
// received name can follow it directly.
QString saveFolderPath(const QString& folder);

// Where the first-run Save dialog opens: the user's Downloads folder, made when missing.
// Pressing Enter twice there, as the prompt invites, chooses it, never the home folder.
QString firstRunFolder();
