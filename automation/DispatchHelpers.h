#pragma once
// Helpers for writing automation servers: cheap member lookup by name without
// regard to case, and argument checks that raise the usual messages.

#include "automation/OleVariant.h"

#include <QString>

#include <initializer_list>
#include <vector>

// A fixed list of member names. Find compares against each name of the same
// length without allocating, which keeps a late-bound call cheap.
class MemberTable {
 public:
  MemberTable(std::initializer_list<const char*> names);
  // The index of member in the list, or -1.
  int Find(const QString& member) const;

 private:
  std::vector<QLatin1String> names_;
};

namespace Dispatch {

// "Unknown name" error naming the member and the object that lacks it.
[[noreturn]] void UnknownMember(const QString& objectName, const QString& member);
// The member exists but not for this kind of call (e.g. a put on a read-only property).
[[noreturn]] void WrongCallKind(const QString& objectName, const QString& member);

// Raises an error naming the member unless args holds between min and max values.
void ExpectArgs(const QString& member, const std::vector<OleVariant>& args, size_t min, size_t max);
inline void ExpectArgs(const QString& member, const std::vector<OleVariant>& args, size_t count) {
  ExpectArgs(member, args, count, count);
}

// Argument conversions that raise an EOleError naming the member and the
// argument's position ("Type mismatch") instead of a bare variant error.
int32_t IntArg(const QString& member, const std::vector<OleVariant>& args, size_t index);
bool BoolArg(const QString& member, const std::vector<OleVariant>& args, size_t index);
QString TextArg(const QString& member, const std::vector<OleVariant>& args, size_t index);

}  // namespace Dispatch
