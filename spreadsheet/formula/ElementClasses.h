#pragma once
// The distinct values of an array: which class each element is in, and for
// each class its first element and how many elements it has. A column of
// answers has a handful of classes over thousands of cells, so a chain of
// element functions over it is worked out once per class, and a sum of such
// a chain is a sum over the classes.
//
// Classes are found by what the elements hold as stored: numbers by their
// bits, texts by their shared storage. Two copies of one text may make two
// classes; one class never holds two different values.

#include "spreadsheet/formula/FormulaValue.h"

#include <cstdint>
#include <vector>

struct ElementClasses {
  std::vector<uint32_t> classOf;  // per element
  std::vector<size_t> first;      // per class: its first element
  std::vector<size_t> count;      // per class: how many elements
};

// The classes of m's elements; false when there are more than maxClasses.
bool ClassifyElements(const Matrix& m, size_t maxClasses, ElementClasses& out);
