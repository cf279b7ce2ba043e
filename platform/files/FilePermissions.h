// Access permissions of a file's data fork, shared by the file manager's
// calls and the framework's file stream.
#pragma once

enum {
  fsCurPerm = 0,     // read and write when allowed, else read only
  fsRdPerm = 1,
  fsWrPerm = 2,
  fsRdWrPerm = 3,
  fsRdWrShPerm = 4,  // same as fsRdWrPerm here
};
