// The QuickTime file format of the toolbox's own movies (internal to
// platform/movies): turning a movie into a 'moov' atom and sample bytes, and a
// 'moov' atom back into a movie. Every value read is checked against the
// bytes that hold it, so a damaged file gives an error, never a crash or a
// huge allocation.
#pragma once

#include <functional>
#include <string>

#include "platform/movies/MovieModel.h"

namespace movies {

enum class WriteMode {
  kFlatten,    // every sample's bytes go into the new file
  kReference,  // bytes held in memory (or in the file being replaced) go into the new file
  kHandle,     // nothing is copied: memory media travel inside the atom by value
};

// Where copied sample bytes go: the new file's 'mdat'.
class CDataSink {
 public:
  virtual ~CDataSink() = default;
  virtual SInt64 Position() const = 0;
  virtual void Write(const void* data, size_t size) = 0;
};

struct WritePlan {
  std::shared_ptr<MovieObj> movie;  // the movie as written: data references and offsets of the new file
  SInt64 bytesCopied = 0;
};

// Makes the written form of a movie, copying the bytes the mode asks for into
// `sink` (nil for kHandle). `targetPath` is the file being written: bytes in
// a file of that name are copied too, as that file is about to be replaced.
// `progress` gets fractions 0..1 and answers false to cancel.
WritePlan PlanMovieWrite(const MovieObj& src, WriteMode mode, CDataSink* sink, const std::string& targetPath,
                         const std::function<bool(double)>& progress);
// The 'moov' atom of a planned movie.
std::vector<UInt8> SerializeMovie(const MovieObj& planned);
// The file type atom written at the start of movie files.
std::vector<UInt8> FileTypeAtom();

// Reads a 'moov' atom (the whole atom, header included). `filePath` is the
// file it came from ("" for memory): it resolves references to the movie's
// own file and relative paths.
std::shared_ptr<MovieObj> ParseMovie(const UInt8* data, size_t size, const std::string& filePath);

// Finds the 'moov' atom among the top-level atoms of a file from `offset`;
// answers its offset and size (noMovieFound when there is none).
OSErr FindMovieAtom(int fd, SInt64 offset, SInt64* outOffset, SInt64* outSize);

// Largest 'moov' atom read into memory.
constexpr SInt64 kMaxMovieAtomSize = 256 * 1024 * 1024;

}  // namespace movies
