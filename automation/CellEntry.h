#pragma once
// How a text put into a cell through the automation calls is stored: a
// spreadsheet application keeps a number when the text reads as one, as when
// a user types it, and text otherwise. Every server behind the calls keeps
// this one rule.

#include <QStringView>

#include <optional>

// The rule, in full:
//   - blanks (spaces) around the number are allowed;
//   - an optional sign "+" or "-";
//   - digits with an optional "." fraction ("5", "5.", ".5", "5.25"), at least
//     one digit in all;
//   - an optional exponent: "e" or "E", an optional sign, digits;
//   - nothing else: no thousands separators ("1,5"), no dates ("1-2"), no
//     percent, no currency, no hexadecimal, no "inf" or "nan".
// Leading zeros drop ("007" is 7), as when typed. A number too large (or
// too small) for a double stays text. Every other text, the empty text and
// the one-space filler included, is no number.
std::optional<double> NumberFromEntry(QStringView text);
