// The seam for foreign containers: when a file opened as a movie holds no
// movie atom, NewMovieFromFile offers it to the registered importer, which
// builds a movie of the toolbox whose media read the file (never writing it).
#pragma once

#include <string>

#include "platform/movies/Movies.h"

// Answers noErr and a new movie, or an error (noMovieFound when the file is not one it reads).
typedef OSErr (*MovieFileImporter)(const std::string& inPath, Movie* outMovie);

// Installs the importer (nil removes it).
void SetMovieFileImporter(MovieFileImporter inImporter);
