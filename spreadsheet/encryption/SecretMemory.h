#pragma once
// Passwords and keys are overwritten as soon as they are no longer needed,
// so that they do not linger in memory that is freed or swapped out.

#include <QString>

#include <cstddef>

void WipeBytes(void* data, size_t size);
// Overwrites the text's characters (after detaching from any copy that
// shares them: that copy is its holder's to wipe) and empties it.
void WipeText(QString& text);
