// A folder among the batch's paths stands for the JPEG photos in it and in
// its subfolders, at any depth, in the order Explorer shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "batch/output_naming.h"

// One entry of a folder, as the platform lists it (never "." or "..").
struct FolderEntry {
  std::string name;     // in the paths' code page
  bool folder = false;  // a folder, or a link to one
  bool hidden = false;  // hidden or system: Explorer does not show it
  bool link = false;    // a symbolic link, junction or other reparse point
};

// What the walk asks of the platform. The Windows program lists folders with
// the system's calls; the tests with a fake tree.
class FolderLister {
 public:
  // The entries of `folder`, in any order, into `entries`, which comes
  // empty. A platform error code (as SystemError in batch/platform.h), 0 for
  // none.
  virtual uint32_t List(const std::string& folder, std::vector<FolderEntry>& entries) = 0;
  // Called after each List, with the folders listed so far (those that could
  // not be, too) and the photos found: keeps the program's windows answering
  // and may show how the walk goes. False stops the walk. Not called when the
  // top folder cannot be listed: the walk ends there with its error.
  virtual bool Listed(size_t folders, size_t photos) = 0;

 protected:
  ~FolderLister() = default;
};

// Whether a file name is a JPEG's: .jpg, .jpeg, .jpe or .jfif, in any case.
bool IsJpegName(std::string_view name);

// Explorer's name order (the system's StrCmpLogicalW): runs of digits compare
// as numbers, letters without regard to case. True when `a` sorts before `b`.
// Names it sees as equal ("a1" and "a01", "a.jpg" and "A.JPG") are ordered by
// their bytes, so any list of names sorts one way. `isLeadByte` keeps the
// second byte of a double-byte character from being read as a letter.
bool LogicalNameLess(std::string_view a, std::string_view b, LeadByteRule isLeadByte = NoLeadBytes);

struct FolderPhotos {
  uint32_t error = 0;               // the top folder could not be listed; 0 for none
  bool stopped = false;             // Listed said stop; photos holds those found before
  std::vector<std::string> photos;  // full paths, in the batch's order
};

// The photos of `folder` (its path as given, without a trailing separator
// unless it is a drive's root): its own JPEG files that are neither hidden nor
// system, in Explorer's name order, then those of each subfolder in that
// order, depth first. A file whose name is the X-name of a JPEG file beside it
// (aX.jpg beside a.jpg, letters in either case) is that file's copy, not a
// photo, even when that file is hidden. Hidden or system folders and links to
// folders are not entered; a subfolder that cannot be listed is passed over.
FolderPhotos FindPhotos(FolderLister& lister, std::string_view folder,
                        LeadByteRule isLeadByte = NoLeadBytes);
