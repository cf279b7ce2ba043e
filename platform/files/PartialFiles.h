// Files written beside their destination under a hidden name of their own
// and renamed over it only when whole: ".<name>.partial-XXXXXX" for an
// export or picture named <name>, ".trx-movie-XXXXXX" for a saved movie.
//
// While such a file is written its writer holds an exclusive lock on it, so
// one that nobody holds was left by a writer that was killed: a leftover.
// Leftovers are removed beside a destination when it is written again, and
// at the next start of the program in every folder where partial files were
// made (the folders are noted in the user's state folder,
// $XDG_STATE_HOME/Tremblorix/Partial Files, else ~/.local/state/...).
// Files of other names are never touched, nor ones a live writer holds.
#pragma once

#include <string>

// The pattern of the partial files of a destination: "<folder>/.<name>.partial-XXXXXX".
std::string PartialPatternFor(const std::string& inDestination);
// The pattern of saved movies' partial files in a folder: "<folder>/.trx-movie-XXXXXX".
std::string SavePartialPatternIn(const std::string& inFolder);

// Makes a new, empty partial file from ioPath, a pattern ending in "XXXXXX"
// (which then becomes the file's path), notes its folder and locks it.
// Returns the file's descriptor, which holds the lock until it is given to
// ReleasePartialFile (descriptors duplicated from it share the lock); -1
// with errno set when the file cannot be made.
int OpenPartialFile(std::string& ioPath);
// The file is renamed into place or removed: unlocks and closes inFD.
void ReleasePartialFile(int inFD);
// Removes the partial files this process still holds (for a program that
// ends on a signal and will not finish them).
void RemoveOwnPartialFiles();

// Whether inName (a bare file name) is one of the partial files' names.
bool IsPartialFileName(const std::string& inName);
// Removes the leftovers of inDestination's own partial files beside it.
// Returns how many were removed.
int RemoveLeftoversBeside(const std::string& inDestination);
// Removes every leftover partial file in a folder. Returns how many were
// removed; *outInUse (when given) counts those that are still being written.
int RemoveLeftoversIn(const std::string& inFolder, int* outInUse = nullptr);
// Looks in every noted folder and removes its leftovers; a folder where
// nothing is being written any more is no longer noted. Returns how many
// files were removed.
int RemoveNotedLeftovers();
// Where the folders are noted.
std::string PartialNotesFolder();
