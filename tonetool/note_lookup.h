// Which note melodyc turns into a given period.
#pragma once

#include <cstdint>
#include <string>

// The plainest spelling of the note with this period ("A1", "C#2"; "P"
// for period 0), or "" when no playable note has it.
std::string note_for_period(std::uint16_t period);
