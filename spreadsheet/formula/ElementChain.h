#pragma once
// Formula parts that work on one area element by element and on nothing
// else that varies: "ISNUMBER(FIND("2",A1:A5000))*1" or
// "LEN(A1:A5000)-LEN(SUBSTITUTE(A1:A5000,"2",""))". Inside an argument that
// takes arrays such a part gives, for each cell of the area, what it gives
// for that cell's value alone; a column of answers holds few distinct
// values, so the part is worked out once per distinct value instead of one
// array per function.

#include "spreadsheet/formula/FormulaProgram.h"

#include <vector>

// Whether the part of the program under node is such a part: literals,
// references, operators other than the reference operators, and functions
// applied element by element whose every argument is a value; with at least
// one function (operators alone have quicker array paths of their own) and
// at least one reference. Which references span the one area is for the
// evaluator to find, as they resolve from the formula's cell.
bool IsElementChain(const FormulaProgram& program, uint32_t node);
// The references under node (indexes into program.refs), in order.
std::vector<uint32_t> ChainReferences(const FormulaProgram& program, uint32_t node);
