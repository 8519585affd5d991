#pragma once
// The per-user state folder: what the program keeps for itself between runs
// and must not lose (crash journals, kept sheets, its private office profile).

#include <QString>

// $XDG_STATE_HOME/CellfeedWizard, or ~/.local/state/CellfeedWizard; not made here.
QString UserStateFolder();
