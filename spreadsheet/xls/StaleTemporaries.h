#pragma once
// The temporary files of atomic saves, by name: ".<file name>.cfwsave-XXXXXX"
// beside the target. A save that is killed leaves its temporary behind (up to
// the workbook's size); the next successful save in that folder removes such
// leftovers. A temporary is taken as left over only when its name has our
// pattern, it is a regular file of this user, no save holds its lock and it
// has not been written to for a while; anything else is left alone.

#include <QString>

#include <chrono>

namespace StaleTemporaries {

// A live save holds this long without writing at most.
inline constexpr std::chrono::seconds kQuietBeforeRemoval{10};

// The mkstemp template of a temporary for target (its full path).
QString TemplateFor(const QString& target);
// Whether a file name (without folder) is one of those temporaries.
bool IsTemporaryName(const QString& fileName);
// Removes the left-over temporaries of the folder; returns how many. Never throws.
int RemoveIn(const QString& folder);

}  // namespace StaleTemporaries
