#pragma once

#include <sys/types.h>

#include <set>
#include <string>

namespace melvanto {

// An output is written under a hidden name in its own folder and renamed over its final name
// only once it is whole, so that a failed, stopped or killed run leaves the final name as it
// was. The process id in the name tells a dead run's leftover from a live run's file.

// ".<name>.melvanto-<pid>.part<extension>" beside the final name.
std::string PartFileName(const std::string& finalName, pid_t pid);

// Creates the file exclusively, never through a link, with the umask's permissions for a new
// file. 0 or errno.
int CreatePartFile(const std::string& partName);

// Flushes the part file, renames it over the final name (a link there is replaced, never its
// target), and flushes the folder so that the rename itself survives a crash. 0 or errno; the
// part file is left where it is on failure.
int PublishPartFile(const std::string& partName, const std::string& finalName);

// Flushes a folder, so that a rename into it survives a crash. A folder that cannot be
// flushed (some file systems refuse) only weakens what a crash right then would leave.
void FlushFolder(const std::string& folder);

// Removes the part file, if it is there.
void DiscardPartFile(const std::string& partName);

// Removes the part files in folder ("" for the current one) of the final names given (without
// their folder) left by processes that no longer exist; a live process's file (this one's
// included) is never touched. Returns how many went.
int RemoveDeadPartFiles(const std::string& folder, const std::set<std::string>& finalNames);

}  // namespace melvanto
